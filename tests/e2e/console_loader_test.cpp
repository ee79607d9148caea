// The built loader with the console front end, on an emulated device in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/loopback_device.h"

namespace testing_support {
namespace {

const std::string kInstall = "Program Files/FerroVanMobile/";
const std::string kApplication = "Application/FerroVanMobile/";

class ConsoleLoaderTest : public ::testing::Test {
 protected:
  std::string At(const std::string& relative) const { return device.Path(relative); }
  Device device;
};

TEST_F(ConsoleLoaderTest, AFreshDeviceAsksForTheServerAddress) {
  const RunResult run = device.RunLoader({});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Quillmar RF Loader\nEnter URL\nServer address []: \n");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(std::filesystem::is_directory(At(kInstall)));
  EXPECT_TRUE(std::filesystem::is_directory(At("Windows/Start Menu/Programs")));
  EXPECT_FALSE(Exists(At("Application")));
}

TEST_F(ConsoleLoaderTest, ATypedAddressIsSavedWhereTheDeviceKeepsItsSettings) {
  struct Case {
    bool applicationFolder;
    std::string line;
    std::string savedIn;
  } cases[] = {
      {true, "127.0.0.1:1\n", kApplication},
      {false, "127.0.0.1:1\r\n", kInstall},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.savedIn);
    std::filesystem::remove_all(device.Root());
    std::filesystem::create_directory(device.Root());
    if (c.applicationFolder)
      std::filesystem::create_directories(At("Application"));

    // Nothing listens on port 1: the fetch fails and the prompt comes back, then input ends.
    const RunResult run = device.RunLoader({"-DoNotRunNewLoader"}, c.line);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(ReadFile(At(c.savedIn + "RFConfig.xml")), SettingsFile("127.0.0.1:1"));
    EXPECT_NE(run.out.find("Server address []: \n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Server address [127.0.0.1:1/]: \n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(ConsoleLoaderTest, WithTheClientInPlaceItIsStartedInTheDeviceRoot) {
  device.InstallClient();
  WriteFile(At(kInstall + "RFConfig.xml"), SettingsFile("  server.\n\texample \r\n"));

  const RunResult run = device.RunLoader({});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out.find("Server address"), std::string::npos) << run.out;
  ASSERT_TRUE(WaitUntil([&] { return !device.ProgramStarts().empty(); }));

  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u);
  const std::vector<std::string>& start = starts[0];
  ASSERT_EQ(start.size(), 4u);
  EXPECT_EQ(start[0], "Solvane.FerroVan.Mobile.Client.exe");
  EXPECT_EQ(std::filesystem::canonical(start[1]), std::filesystem::canonical(device.Root()));
  EXPECT_EQ(start[2], device.Root());
  EXPECT_EQ(start[3], "-NewLoader");
}

TEST_F(ConsoleLoaderTest, AClientThatCannotBeStartedIsShownAsFailureAtEveryStart) {
  const std::string client = At(kInstall + "Solvane.FerroVan.Mobile.Client.exe");
  struct Case {
    const char* what;
    std::function<void()> spoil;
  } cases[] = {
      {"no right to execute it",
       [&] {
         std::filesystem::permissions(
             client, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                         std::filesystem::perms::group_read | std::filesystem::perms::others_read);
       }},
      {"not a program", [&] { WriteFile(client, "MZ but not really\n"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device.InstallClient();
    WriteFile(At(kInstall + "RFConfig.xml"), SettingsFile("127.0.0.1:1"));
    c.spoil();
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
}

TEST_F(ConsoleLoaderTest, AMalformedSettingsFileGivesWayToTheInstallFolders) {
  WriteFile(At(kApplication + "RFConfig.xml"), "<Config><WebHostName>bad");
  WriteFile(At(kInstall + "RFConfig.xml"), SettingsFile("127.0.0.1:1"));

  const RunResult run = device.RunLoader({"-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.out.find("Server address [127.0.0.1:1/]: \n"), std::string::npos) << run.out;
}

TEST_F(ConsoleLoaderTest, ABadHostOptionCreatesNothingAndGivesStatus2) {
  const std::string fresh = device.Path("fresh");
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--ui"},
      {"--ui", "tv"},
      {"--ui=tv"},
      {"--device-root"},
      {"--device-root", fresh, "--verbose"},
      {"--device-root", fresh, std::string(40000, 'x')},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    const RunResult run = testing_support::Run(FERROVAN_LOADER_PATH, args);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("Usage: ferrovan-loader"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(fresh));
  }

  RunOptions options;
  options.env = {{"FERROVAN_UI", "tv"}};
  const RunResult run =
      testing_support::Run(FERROVAN_LOADER_PATH, {"--device-root", fresh}, options);
  EXPECT_EQ(run.exitStatus, 2);
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
    for (const std::string& root : {placed, option, variable, fromData})
      fs::remove_all(root + "/Windows");
    c.args.insert(c.args.end(), {"--ui", "console"});
    RunOptions options;
    options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
    options.env = c.env;
    options.env.emplace_back("XDG_DATA_HOME", dataHome);
    // No address anywhere: the prompt comes, and the end of input cancels it.
    const RunResult run = testing_support::Run(c.program, c.args, options);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    for (const std::string& root : {placed, option, variable, fromData})
      EXPECT_EQ(Exists(root + "/Windows/Desktop"), root == c.expected) << root;
  }
}

TEST_F(ConsoleLoaderTest, HelpAndVersionAnswerAndEnd) {
  const RunResult help = testing_support::Run(FERROVAN_LOADER_PATH, {"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  for (const char* word : {"--device-root", "--ui", "-InstallCF35MessagesEN", "-ForceToUpgrade",
                           "-DoNotRunNewLoader", "FERROVAN_DEVICE_ROOT", "FERROVAN_UI"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  const RunResult version = testing_support::Run(FERROVAN_LOADER_PATH, {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("ferrovan-loader ", 0), 0u) << version.out;
}

}  // namespace
}  // namespace testing_support
