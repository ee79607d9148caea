// What only Linux has of text: the loader's narrow text is UTF-8 there. The cases of every host
// are in text_test.cpp.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/host.h"

namespace {

// On Linux the loader's narrow texts are UTF-8.
TEST(Utf8, NarrowArgumentsOfFormatsAreRead) {
  std::array<wchar_t, 32> out;
  ASSERT_TRUE(platform::FormatText(out, L"[%hs|%hc]", "caf\xC3\xA9", 'a'));
  EXPECT_STREQ(out.data(), L"[café|a]");
}

TEST(Utf8, RoundTripsEveryPlane) {
  const struct {
    const wchar_t* wide;
    const char* narrow;
  } cases[] = {
      {L"Program Files\\FerroVanMobile\\", "Program Files\\FerroVanMobile\\"},
      {L"", ""},
      {L"\xE9", "\xC3\xA9"},
      {L"\x20AC", "\xE2\x82\xAC"},
      {L"\xFFFD", "\xEF\xBF\xBD"},
      {L"\x1D11E", "\xF0\x9D\x84\x9E"},
      {L"\x10FFFF", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    std::array<char, 32> narrow;
    std::array<wchar_t, 32> wide;
    ASSERT_TRUE(platform::WideToNarrow(narrow, c.wide));
    EXPECT_STREQ(narrow.data(), c.narrow);
    ASSERT_TRUE(platform::NarrowToWide(wide, narrow.data()));
    EXPECT_STREQ(wide.data(), c.wide);
    EXPECT_EQ(platform::WideToUtf8(c.wide), c.narrow);
    EXPECT_EQ(platform::Utf8ToWide(c.narrow), c.wide);
  }
}

TEST(Utf8, UnencodableBecomesQuestionMark) {
  const wchar_t text[] = {L'a',
                          static_cast<wchar_t>(0xD800),
                          static_cast<wchar_t>(0x110000),
                          static_cast<wchar_t>(-5),
                          L'b',
                          0};
  std::array<char, 16> narrow;
  ASSERT_TRUE(platform::WideToNarrow(narrow, text));
  EXPECT_STREQ(narrow.data(), "a???b");
}

TEST(Utf8, MalformedBecomesReplacementCharacters) {
  const struct {
    const char* narrow;
    const wchar_t* wide;
  } cases[] = {
      {"\xC3", L"\xFFFD"},  // cut short at the end
      {"\xE2\x82"
       "A",
       L"\xFFFD"
       L"A"},                                             // cut short before a plain character
      {"\x80\xBF", L"\xFFFD\xFFFD"},                      // stray continuation bytes
      {"\xC0\xAF", L"\xFFFD\xFFFD"},                      // overlong '/'
      {"\xE0\x80\x80", L"\xFFFD\xFFFD\xFFFD"},            // overlong
      {"\xED\xA0\x80", L"\xFFFD\xFFFD\xFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD"},  // above U+10FFFF
      {"\xFF"
       "x",
       L"\xFFFD"
       L"x"},
  };
  for (const auto& c : cases) {
    std::array<wchar_t, 16> wide;
    ASSERT_TRUE(platform::NarrowToWide(wide, c.narrow));
    EXPECT_STREQ(wide.data(), c.wide) << c.narrow;
  }
}

TEST(Utf8, OverflowIsRefusedWithoutOverrun) {
  std::array<char, 8> narrow;
  narrow.fill('#');
  EXPECT_FALSE(platform::WideToNarrow(std::span(narrow.data(), 2), L"\xE9"));
  EXPECT_EQ(narrow[0], '\0');
  EXPECT_EQ(narrow[2], '#');
  EXPECT_TRUE(platform::WideToNarrow(std::span(narrow.data(), 3), L"\xE9"));
  EXPECT_FALSE(platform::WideToNarrow(std::span(narrow.data(), 4), L"ab\x20AC"));
  EXPECT_STREQ(narrow.data(), "");
  EXPECT_EQ(narrow[4], '#');

  std::array<wchar_t, 8> wide;
  wide.fill(L'#');
  EXPECT_FALSE(platform::NarrowToWide(std::span(wide.data(), 3), "abc"));
  EXPECT_EQ(wide[0], L'\0');
  EXPECT_EQ(wide[3], L'#');
  EXPECT_TRUE(platform::NarrowToWide(std::span(wide.data(), 4), "abc"));
  EXPECT_STREQ(wide.data(), L"abc");
  EXPECT_FALSE(platform::NarrowToWide(std::span<wchar_t>(), ""));
}

}  // namespace
