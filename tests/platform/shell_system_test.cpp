// Shortcuts, the system's information and its clock, on every host.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/common/file_time.h"
#include "platform/device_root.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

class ShellSystemTest : public ::testing::Test {
 protected:
  ShellSystemTest() { platform::SetDeviceRoot(root_.Path()); }
  testing_support::TempDir root_;
};

TEST_F(ShellSystemTest, ShortcutIsTheDevicesTextForm) {
  const std::string programs = root_ / "Windows/Start Menu/Programs/";
  WriteFile(programs + "Quillmar Transport.lnk", std::string(200, 'o'));
  const struct {
    const wchar_t* target;
    const char* content;
  } cases[] = {
      {L"\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"",
       "62#\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\""},
      {L"\"caf\xE9\"", "6#\"caf\xC3\xA9\""},  // characters counted, not bytes
      {L"\xE9", "1#\xC3\xA9"},
      {L"", "0#"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(platform::Shell().CreateShortcut(
        L"\\Windows\\Start Menu\\Programs\\Quillmar Transport.lnk", c.target));
    EXPECT_EQ(ReadFile(programs + "Quillmar Transport.lnk"), c.content);
  }
  EXPECT_FALSE(platform::Shell().CreateShortcut(L"\\Windows\\Missing\\x.lnk", L"t"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(programs),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary file is left beside the shortcut";
}

TEST_F(ShellSystemTest, HostCountsAsWindowsCe) {
  bool isWindowsCe = false;
  EXPECT_TRUE(platform::SystemInfo().QueryVersion(isWindowsCe));
  EXPECT_TRUE(isWindowsCe);
}

TEST_F(ShellSystemTest, PlatformTypeIsTheFirstLineOfItsFile) {
  const struct {
    std::optional<std::string> content;  // none: no file
    bool readable;
    const wchar_t* type;
  } cases[] = {
      {"PocketPC\r\n", true, L"PocketPC"},
      {"Smartphone\nsecond line\n", true, L"Smartphone"},
      {"SmartPhone", true, L"SmartPhone"},
      {"CE\rNet\n", true, L"CE"},
      {"\xEF\xBB\xBFPocketPC\n", true, L"PocketPC"},
      {"Caf\xC3\xA9\n", true, L"Caf\xE9"},
      {"", true, L""},
      {"\n", true, L""},
      {std::string(300, 'x'), false, L""},
      {"PocketPC\r\nsecond", true, L"PocketPC"},
      {std::nullopt, false, L""},
  };
  const std::string file = root_ / "Windows/PlatformType";
  for (const auto& c : cases) {
    std::filesystem::remove(file);
    if (c.content) {
      WriteFile(file, *c.content);
    }
    std::array<wchar_t, MAX_PATH> type;
    type.fill(L'#');
    EXPECT_EQ(platform::SystemInfo().QueryPlatformType(type), c.readable)
        << c.content.value_or("(no file)");
    if (c.readable) {
      EXPECT_STREQ(type.data(), c.type);
    }
  }
  // A buffer too small for the type takes nothing.
  WriteFile(file, "PocketPC");
  std::array<wchar_t, 8> small;
  small.fill(L'#');
  EXPECT_FALSE(platform::SystemInfo().QueryPlatformType(small));
  std::filesystem::remove(file);
  std::filesystem::create_directories(file);
  std::array<wchar_t, MAX_PATH> type;
  EXPECT_FALSE(platform::SystemInfo().QueryPlatformType(type)) << "a folder is no file";
}

}  // namespace

namespace {

TEST(ClockTest, TellsTheTimeOfDayInUtcSecondsLikeTheSystemClock) {
  std::int64_t seconds = 0;
  ASSERT_TRUE(platform::Clock().SecondsSinceEpoch(seconds));
  const auto system = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  EXPECT_LE(std::abs(seconds - static_cast<std::int64_t>(system)), 5);
  EXPECT_GT(seconds, 1767225600) << "before 2026";
}

// The Win32 clock's conversion, on every build. The FILETIME halves are written out, not
// computed: 1970, the first second past a signed 32-bit count, a leap day in 2040 and the first
// second past an unsigned 32-bit count.
TEST(ClockTest, FileTimesPast2038BecomeTheirSecondsSince1970) {
  const struct {
    const char* when;
    std::uint32_t high;
    std::uint32_t low;
    std::int64_t seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0x019DB1DE, 0xD53E8000, 0},
      {"2038-01-19T03:14:08Z", 0x01E9FD1E, 0xD53E8000, 2147483648},
      {"2040-02-29T23:59:59Z", 0x01EC5BA7, 0x9CCD2980, 2214172799},
      {"2106-02-07T06:28:16Z", 0x0236485E, 0xD53E8000, 4294967296},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    EXPECT_EQ(platform::SecondsSinceEpochOfFileTime(c.high, c.low), c.seconds);
  }
}

}  // namespace
