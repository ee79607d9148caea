// What only the Windows loader does end to end, under Wine: where it puts the device when it is
// installed in the system's own Program Files. The
// roads that every host shares (roads_test.cpp) run in this program too, against the same
// loader.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/loader_host.h"
#include "tests/e2e/loopback_device.h"
#include "tests/e2e_wine/wine_paths.h"
#include "tests/support/required_tools.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

class WineLoader : public ::testing::Test {
 protected:
  void SetUp() override { FERROVAN_SKIP_WHEN_MISSING(Host().Missing()); }
  void TearDown() override { StopAndReapChildren(); }
};

// The prefix's own C: drive, where the system's Program Files and Windows folders are.
std::string DriveC(const std::string& relative) {
  return WinePrefix() + "/drive_c/" + relative;
}

// A loader in C:\Program Files\FerroVanMobile\ would make the drive's top the device and write
// into the system's own Windows folder. The device is the user's own instead.
TEST_F(WineLoader, InstalledInTheSystemsProgramFilesItKeepsItsDeviceInTheUsersData) {
  const std::string installed = DriveC("Program Files/FerroVanMobile/");
  const std::string userData = DriveC("users");
  fs::remove_all(installed);
  MakeFolders(installed);
  fs::copy_file(Host().LoaderProgram(), installed + kLoaderExe);

  const std::vector<std::string> system = {"windows/Desktop", "windows/Programs",
                                           "windows/Start Menu", "Temp"};
  std::vector<bool> there;
  for (const std::string& folder : system) {
    there.push_back(Exists(DriveC(folder)));
  }

  RunOptions options;
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  const RunResult run = Host().Run(installed + kLoaderExe, {"--ui", "console"}, options);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Enter URL\n" + Prompt(""))) << run.out << run.err;

  for (std::size_t i = 0; i < system.size(); ++i) {
    EXPECT_EQ(Exists(DriveC(system[i])), there[i]) << "C:\\" << system[i] << " was made";
  }
  EXPECT_FALSE(Exists(DriveC("Program Files/FerroVanMobile/RFConfig.xml")));
  bool inUserData = false;
  for (const auto& user : fs::directory_iterator(userData)) {
    const fs::path device = user.path() / "AppData/Local/ferrovan/device";
    if (fs::is_directory(device / "Windows/Start Menu/Programs")) {
      inUserData = true;
      fs::remove_all(user.path() / "AppData/Local/ferrovan");
    }
  }
  EXPECT_TRUE(inUserData) << "no device in the user's local application data";
  fs::remove_all(installed);
}

}  // namespace
}  // namespace testing_support
