// The device root on every host: the folders every device gets.
#include "platform/device_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/host.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::Exists;
using testing_support::TempDir;

TEST(DeviceRoot, CreatesTheSystemFoldersButNotApplication) {
  TempDir temp;
  platform::SetDeviceRoot(temp / "new/device");
  ASSERT_TRUE(platform::CreateSystemFolders());
  for (const char* folder : {"", "Windows", "Windows\\Desktop", "Windows\\Programs",
                             "Windows\\Start Menu\\Programs", "Program Files", "Temp"}) {
    EXPECT_TRUE(std::filesystem::is_directory(platform::ToHostPath(std::string_view(folder))))
        << folder;
  }
  EXPECT_FALSE(Exists(platform::ToHostPath(std::string_view("Application"))));
  EXPECT_TRUE(platform::CreateSystemFolders()) << "a second start finds them all in place";

  testing_support::WriteFile(temp / "plain-file", "x");
  platform::SetDeviceRoot(temp / "plain-file/device");
  EXPECT_FALSE(platform::CreateSystemFolders());
  platform::SetDeviceRoot(temp / "plain-file");
  EXPECT_FALSE(platform::CreateSystemFolders());
}

// Finding the program's own path costs a look-up: a named root spares it.
TEST(DeviceRoot, AsksForTheProgramPathOnlyWhenNothingNamesTheRoot) {
  TempDir temp;
  const std::string named = temp / "named";
  int asked = 0;
  const auto programPath = [&asked] {
    ++asked;
    return std::string();
  };
  std::string chosen;
  EXPECT_TRUE(platform::ChooseDeviceRoot(named.c_str(), programPath, chosen));
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(platform::ChooseDeviceRoot("", programPath, chosen));
  EXPECT_EQ(asked, platform::EnvironmentText("FERROVAN_DEVICE_ROOT").empty() ? 1 : 0);
}

}  // namespace
