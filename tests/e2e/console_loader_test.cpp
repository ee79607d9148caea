// The built Linux loader with the console front end, on an emulated device in a scratch folder:
// what only this host does (file modes, the data folder as the device root). The console
// protocol that every host shares is in roads_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/loopback_device.h"

namespace testing_support {
namespace {

const std::string kInstall = "Program Files/FerroVanMobile/";

class ConsoleLoaderTest : public ::testing::Test {
 protected:
  std::string At(const std::string& relative) const { return device.Path(relative); }
  Device device;
};

// A client file without the right to execute it: a program the loader cannot start, as one
// that is no program at all (which every host's roads try).
TEST_F(ConsoleLoaderTest, AClientWithoutTheRightToRunIsShownAsFailureAtEveryStart) {
  const std::string client = At(kInstall + "Solvane.FerroVan.Mobile.Client.exe");
  device.InstallClient();
  WriteFile(At(kInstall + "RFConfig.xml"), SettingsFile("127.0.0.1:1"));
  std::filesystem::permissions(
      client, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  for (int start = 0; start < 2; ++start) {
    const RunResult run = device.RunLoader({}, "never read\n");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err,
              "Loader cannot continue\nCould not execute file 'Program "
              "Files\\FerroVanMobile\\Solvane.FerroVan.Mobile.Client.exe'.\n");
    EXPECT_EQ(run.out, "Quillmar RF Loader\nChecking Required Files\n");
  }
  EXPECT_TRUE(Exists(client));
  EXPECT_FALSE(Exists(At("demo-client.log")));
}

// A command line longer than the device's process start takes. (Windows itself starts no
// process with one.)
TEST_F(ConsoleLoaderTest, ACommandLineTooLongForTheDeviceGivesStatus2) {
  const std::string fresh = At("fresh");
  RunOptions options;
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  const RunResult run = testing_support::Run(
      FERROVAN_LOADER_PATH, {"--device-root", fresh, std::string(40000, 'x')}, options);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_NE(run.err.find("the command line is too long"), std::string::npos) << run.err;
  EXPECT_FALSE(Exists(fresh));
}

TEST_F(ConsoleLoaderTest, TheDeviceRootIsTheOptionElseTheVariableElseTheProgramsPlace) {
  namespace fs = std::filesystem;
  const std::string placed = At("placed"), option = At("option"), variable = At("variable");
  const std::string dataHome = At("data"), fromData = dataHome + "/ferrovan/device";
  MakeFolders(placed + "/" + kInstall);
  const std::string copy = placed + "/" + kInstall + "ferrovan-loader";
  fs::copy_file(FERROVAN_LOADER_PATH, copy);
  struct Case {
    const char* what;
    std::string program;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
    std::string expected;
  } cases[] = {
      {"its place", copy, {}, {}, placed},
      {"an empty variable counts as none", copy, {}, {{"FERROVAN_DEVICE_ROOT", ""}}, placed},
      {"the variable", copy, {}, {{"FERROVAN_DEVICE_ROOT", variable}}, variable},
      {"the option", copy, {"--device-root", option}, {{"FERROVAN_DEVICE_ROOT", variable}}, option},
      {"no place of its own", FERROVAN_LOADER_PATH, {}, {}, fromData},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& root : {placed, option, variable, fromData}) {
      fs::remove_all(root + "/Windows");
    }
    c.args.insert(c.args.end(), {"--ui", "console"});
    RunOptions options;
    options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
    options.env = c.env;
    options.env.emplace_back("XDG_DATA_HOME", dataHome);
    // No address anywhere: the prompt comes, and the end of input cancels it.
    const RunResult run = testing_support::Run(c.program, c.args, options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    for (const std::string& root : {placed, option, variable, fromData}) {
      EXPECT_EQ(Exists(root + "/Windows/Desktop"), root == c.expected) << root;
    }
  }
}

}  // namespace
}  // namespace testing_support
