// The formatter and the bounded copies, shared by both hosts.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::CopyText;
using platform::FormatNarrow;
using platform::FormatText;

// Formats into a roomy buffer; fails the test when the result was cut.
template <class... Args>
std::wstring Format(const wchar_t* format, Args... args) {
  std::array<wchar_t, 512> out;
  EXPECT_TRUE(FormatText(out, format, args...)) << format;
  return out.data();
}

TEST(FormatText, WideFormatsAsOnTheDevice) {
  const struct {
    std::wstring actual;
    const wchar_t* expected;
  } cases[] = {
      {Format(L"http://%sFerroVanService/WebService/Downloads/%s", L"host:8080/", L"a.dll"),
       L"http://host:8080/FerroVanService/WebService/Downloads/a.dll"},
      {Format(L"%s%s", L"Program Files\\FerroVanMobile\\", L"Solvane.Mobile.Common.dll"),
       L"Program Files\\FerroVanMobile\\Solvane.Mobile.Common.dll"},
      {Format(L"[%hs] [%S] [%ls]", "cafe", "narrow", L"wide"), L"[cafe] [narrow] [wide]"},
      {Format(L"%c%hc%C", L'\x20AC', 'a', 'b'),
       L"\x20AC"
       L"ab"},
      {Format(L"100%% of %s", L"Ω𝄞"), L"100% of Ω𝄞"},
      {Format(L"%ld bytes", 999L), L"999 bytes"},
      {Format(L"%ld KB", 1048L), L"1048 KB"},
      {Format(L"%4.2f MB", 1.5), L"1.50 MB"},
      {Format(L"%4.2f MB", 123.456), L"123.46 MB"},
      {Format(L"[%5d|%-5d|%05d|%+d]", -42, -42, 42, 7), L"[  -42|-42  |00042|+7]"},
      {Format(L"%x %X %#x %o", 255u, 255u, 31u, 8u), L"ff FF 0x1f 10"},
      {Format(L"%lld %llu", LLONG_MIN, ULLONG_MAX), L"-9223372036854775808 18446744073709551615"},
      {Format(L"%lu %i %hd", 4294967295UL, -1, 70000), L"4294967295 -1 4464"},
      {Format(L"[%*d|%-*d|%.*s]", 4, 7, 3, 7, 2, L"abc"), L"[   7|7  |ab]"},
      {Format(L"[%5.2s|%-5s]", L"abcd", L"ab"), L"[   ab|ab   ]"},
      {Format(L"%e %g", 1000.0, 0.5), L"1.000000e+03 0.5"},
      {Format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)"},
      {Format(L"%n and %q stay", 1), L"%n and %q stay"},
      {Format(L"ends with %"), L"ends with "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(FormatText, CutResultsNeverOverrunAndStayTerminated) {
  const std::wstring whole = L"Downloaded 1.50 MB of 2.00 MB";
  for (std::size_t size = 1; size <= whole.size() + 2; ++size) {
    std::array<wchar_t, 64> buffer;
    buffer.fill(L'#');
    const bool complete =
        FormatText(std::span(buffer.data(), size), L"Downloaded %4.2f MB of %s", 1.5, L"2.00 MB");
    EXPECT_EQ(complete, size > whole.size()) << size;
    const std::size_t shown = std::min(size - 1, whole.size());
    EXPECT_EQ(std::wstring(buffer.data()), whole.substr(0, shown)) << size;
    for (std::size_t i = size; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], L'#') << "written past a span of " << size;
    }
  }
}

TEST(FormatText, HugeWidthsAreCutNotAllocated) {
  std::array<wchar_t, 12> buffer;
  buffer.fill(L'#');
  EXPECT_FALSE(FormatText(std::span(buffer.data(), 10), L"%2000000000d|%.2000000000f", 5, 1.0));
  EXPECT_EQ(std::wstring(buffer.data()), std::wstring(9, L' '));
  EXPECT_EQ(buffer[10], L'#');
  EXPECT_FALSE(FormatText(std::span<wchar_t>(), L"x"));
}

// Widths and precisions beyond what a span can hold are bounded inside; the start of the text
// must still be the whole result's: its padding, sign and zeros where they fall.
TEST(FormatText, SmallSpansShowTheStartOfTheWholeResult) {
  using Formatter = std::function<bool(std::span<wchar_t>)>;
  const struct {
    const char* name;
    Formatter format;
  } cases[] = {
      {"zeros wider than the width",
       [](auto out) { return FormatText(out, L"%25000.30000zu", std::size_t{7}); }},
      {"padding before zeros", [](auto out) { return FormatText(out, L"%30000.25000d", -7); }},
      {"left-justified", [](auto out) { return FormatText(out, L"%-30000.25000f|", 1.5); }},
      {"zero padding after the sign",
       [](auto out) { return FormatText(out, L"%+030000.25000e", -1.5); }},
      {"%g stops at its last digit",
       [](auto out) { return FormatText(out, L"%30000.25000g", 0.1); }},
      {"%#g keeps its zeros", [](auto out) { return FormatText(out, L"%#30000.25000g", 0.1); }},
      {"long double", [](auto out) { return FormatText(out, L"%30000.25000La", 3.0L); }},
  };
  std::vector<wchar_t> whole(65536);
  for (const auto& c : cases) {
    ASSERT_TRUE(c.format(whole)) << c.name;
    const std::wstring_view expected(whole.data());
    for (std::size_t size : {1, 2, 300, 4096}) {
      std::vector<wchar_t> cut(size);
      EXPECT_FALSE(c.format(cut)) << c.name;
      EXPECT_EQ(std::wstring_view(cut.data()), expected.substr(0, size - 1))
          << c.name << ", span of " << size;
    }
  }
}

TEST(FormatNarrow, FormatsAndCutsWithinTheSpan) {
  std::array<char, 260> path;
  EXPECT_TRUE(FormatNarrow(path, "%sRFConfig.xml", "Application\\FerroVanMobile\\"));
  EXPECT_STREQ(path.data(), "Application\\FerroVanMobile\\RFConfig.xml");

  std::array<char, 8> small;
  small.fill('#');
  EXPECT_FALSE(FormatNarrow(std::span(small.data(), 5), "%sRFConfig.xml", "Program Files\\"));
  EXPECT_STREQ(small.data(), "Prog");
  EXPECT_EQ(small[5], '#');
}

TEST(CopyAndAppend, CopyRefusesAndAppendCutsWhatDoesNotFit) {
  std::array<wchar_t, 6> out;
  EXPECT_TRUE(CopyText(out, L"abcde"));
  EXPECT_STREQ(out.data(), L"abcde");
  EXPECT_FALSE(CopyText(out, L"abcdef"));
  EXPECT_STREQ(out.data(), L"");

  ASSERT_TRUE(CopyText(out, L"ab"));
  EXPECT_TRUE(platform::AppendText(out, L"cde"));
  EXPECT_STREQ(out.data(), L"abcde");
  EXPECT_FALSE(platform::AppendText(out, L"f"));
  EXPECT_STREQ(out.data(), L"abcde");
  // What fits of a longer text is kept.
  ASSERT_TRUE(CopyText(out, L"ab"));
  EXPECT_FALSE(platform::AppendText(out, L"cdefg"));
  EXPECT_STREQ(out.data(), L"abcde");

  std::array<wchar_t, 3> unterminated = {L'x', L'y', L'z'};
  EXPECT_FALSE(platform::AppendText(unterminated, L""));
  EXPECT_EQ(unterminated[2], L'z');
}

}  // namespace
