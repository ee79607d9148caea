// The test helpers' Windows parts: a fault here would show as faults of the code under test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/utf8_text.h"

namespace testing_support {
namespace {

TEST(Utf8Text, ConvertsUtf16BothWays) {
  const struct {
    std::wstring wide;
    std::string utf8;
  } cases[] = {
      {L"", ""},
      {L"Program Files\\x.dll", "Program Files\\x.dll"},
      {L"Stra\u00dfe \u20ac",
       "Stra\xc3\x9f"
       "e \xe2\x82\xac"},
      {L"\U0001F69A truck", "\xf0\x9f\x9a\x9a truck"},  // a surrogate pair
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(ToUtf8(c.wide), c.utf8);
    EXPECT_EQ(FromUtf8(c.utf8), c.wide);
  }
}

TEST(Utf8Text, LoneSurrogatesBecomeQuestionMarksAndMalformedBytesReplacement) {
  EXPECT_EQ(ToUtf8(std::wstring(L"a") + wchar_t(0xD800) + L"b"), "a?b");
  EXPECT_EQ(ToUtf8(std::wstring(L"a") + wchar_t(0xDC00)), "a?");
  EXPECT_EQ(ToUtf8(std::wstring(1, wchar_t(0xDBFF)) + wchar_t(0xD800)), "??");
  const std::wstring decoded = FromUtf8(
      "a\xff"
      "b");
  EXPECT_EQ(decoded,
            L"a\uFFFD"
            L"b");
}

TEST(TempDirOnWindows, FreshFoldersInTheTemporaryFolderRemovedWithTheirContents) {
  std::string kept;
  {
    TempDir first;
    TempDir second;
    EXPECT_NE(first.Path(), second.Path());
    // Compared as text: Wine gives no file identities for equivalent() to compare.
    EXPECT_EQ((std::filesystem::path(first.Path()).parent_path() / "").native(),
              (std::filesystem::temp_directory_path() / "").native());
    WriteFile(first / "a/b/c.txt", "content");
    EXPECT_EQ(ReadFile(first / "a/b/c.txt"), "content");
    kept = first.Path();
  }
  EXPECT_FALSE(Exists(kept));
}

}  // namespace
}  // namespace testing_support
