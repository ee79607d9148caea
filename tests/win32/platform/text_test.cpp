// What only Windows has of text: the ANSI code page for the loader's narrow text, never past the
// caller's buffer. The cases of every host are in tests/platform/text_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/text.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"

namespace {

// A character that the ANSI code page in use has no form for; empty when it has one for all.
std::wstring Unrepresentable() {
  const UINT page = GetACP();
  if (page == CP_UTF8) {
    return {};
  }
  // Thai is in no East Asian code page; Chinese is in no single-byte one.
  return page == 932 || page == 936 || page == 949 || page == 950 ? L"\u0E01" : L"\u4E2D";
}

TEST(Win32AnsiTextTest, RoundTripsWhatTheCodePageHolds) {
  for (const std::wstring text : {L"Server", L"RFConfig.xml", L"Caf\u00E9 Z\u00FCrich"}) {
    BOOL lossy = FALSE;
    char probe[64];
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, probe, sizeof probe, nullptr,
                        GetACP() == CP_UTF8 ? nullptr : &lossy);
    if (lossy) {
      continue;
    }
    SCOPED_TRACE(platform::WideToUtf8(text));
    char narrow[64];
    ASSERT_TRUE(platform::WideToNarrow(narrow, text.c_str()));
    wchar_t back[64];
    ASSERT_TRUE(platform::NarrowToWide(back, narrow));
    EXPECT_EQ(std::wstring(back), text);
    EXPECT_EQ(platform::WidenNarrowText(narrow), text);
  }
  if (GetACP() == 1252) {
    char narrow[16];
    ASSERT_TRUE(platform::WideToNarrow(narrow, L"Caf\u00E9"));
    EXPECT_EQ(std::string(narrow), "Caf\xE9");
    // A letter and its combining accent become the code page's one character (WC_COMPOSITECHECK).
    ASSERT_TRUE(platform::WideToNarrow(narrow, L"Cafe\u0301"));
    EXPECT_EQ(std::string(narrow), "Caf\xE9");
  }
}

TEST(Win32AnsiTextTest, WhatTheCodePageLacksBecomesTheDefaultCharacter) {
  const std::wstring missing = Unrepresentable();
  if (missing.empty()) {
    GTEST_SKIP() << "the ANSI code page is UTF-8: it holds every character";
  }
  char narrow[16];
  ASSERT_TRUE(platform::WideToNarrow(narrow, (L"a" + missing + L"b").c_str()));
  EXPECT_EQ(std::string(narrow), "a?b");
}

TEST(Win32AnsiTextTest, NeverWritesPastTheBufferAndLeavesItEmptyWhenCut) {
  constexpr char kGuard = '#';
  constexpr wchar_t kWideGuard = L'#';
  struct Case {
    std::size_t size;  // the span handed over; the text "abcd" needs 5
    bool fits;
  };
  for (const Case& c : {Case{5, true}, Case{4, false}, Case{1, false}}) {
    SCOPED_TRACE(c.size);
    std::vector<char> narrow(c.size + 1, kGuard);
    EXPECT_EQ(platform::WideToNarrow(std::span<char>(narrow.data(), c.size), L"abcd"), c.fits);
    EXPECT_EQ(narrow[c.size], kGuard);
    EXPECT_EQ(std::string(narrow.data()), c.fits ? "abcd" : "");

    std::vector<wchar_t> wide(c.size + 1, kWideGuard);
    EXPECT_EQ(platform::NarrowToWide(std::span<wchar_t>(wide.data(), c.size), "abcd"), c.fits);
    EXPECT_EQ(wide[c.size], kWideGuard);
    EXPECT_EQ(std::wstring(wide.data()), c.fits ? L"abcd" : L"");
  }
  char narrow[4] = "xyz";
  EXPECT_FALSE(platform::WideToNarrow(narrow, nullptr));
  EXPECT_EQ(narrow[0], '\0');
  wchar_t wide[4] = L"xyz";
  EXPECT_FALSE(platform::NarrowToWide(wide, nullptr));
  EXPECT_EQ(wide[0], L'\0');
  EXPECT_FALSE(platform::WideToNarrow(std::span<char>(), L"a"));
}

TEST(Win32AnsiTextTest, WidensOnlyTheGivenPartOfANarrowText) {
  EXPECT_EQ(platform::WidenNarrowText(std::string_view("abcdef", 2)), L"ab");
  EXPECT_EQ(platform::WidenNarrowText(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
  EXPECT_EQ(platform::WidenNarrowText({}), L"");
}

}  // namespace
