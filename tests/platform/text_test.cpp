// UTF-8 of any length, the platform's own text for host paths and the window, on every host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host.h"

namespace {

TEST(Utf8Text, ConvertsBothWaysAndMarksWhatCannotBeCarried) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const std::vector<Case> roundTrips = {
      {"", L""},
      {"Program Files\\FerroVanMobile", L"Program Files\\FerroVanMobile"},
      {"Caf\xC3\xA9 \xE4\xB8\xAD", L"Caf\u00E9 \u4E2D"},
      {"\xF0\x9F\x98\x80", L"\U0001F600"},  // a surrogate pair
  };
  for (const Case& c : roundTrips) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(platform::Utf8ToWide(c.utf8), c.wide);
    EXPECT_EQ(platform::WideToUtf8(c.wide), c.utf8);
  }
  EXPECT_EQ(platform::Utf8ToWide("a\xFF"
                                 "b"),
            L"a\uFFFDb");
  EXPECT_EQ(platform::WideToUtf8(std::wstring(L"a") + wchar_t(0xD800) + L"b"), "a?b");
  EXPECT_EQ(platform::WideToUtf8(std::wstring(1, wchar_t(0xDC00))), "?");
}

}  // namespace
