// The built loader with the console front end, on an emulated device in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;

const std::string kInstall = "Program Files/FerroVanMobile/";
const std::string kApplication = "Application/FerroVanMobile/";
const char* const kClientFiles[] = {
    "Solvane.Mobile.Common.dll",
    "Solvane.Ferrovan.Mobile.Client.Business.dll",
    "Solvane.Ferrovan.Mobile.Client.Common.dll",
    "Solvane.Ferrovan.Mobile.Client.Data.dll",
    "Solvane.Ferrovan.Mobile.GUI.dll",
};

std::string Settings(const std::string& address) {
  return "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>" + address +
         "</WebHostName>\n</Config>\n";
}

class ConsoleLoaderTest : public ::testing::Test {
 protected:
  std::string Root() const { return root.Path() + "/device"; }
  std::string At(const std::string& relative) const { return Root() + "/" + relative; }

  RunResult RunLoader(const std::vector<std::string>& text, const std::string& input = "",
                      std::vector<std::pair<std::string, std::string>> env = {}) {
    std::vector<std::string> args = {"--device-root", Root(), "--ui", "console"};
    args.insert(args.end(), text.begin(), text.end());
    testing_support::RunOptions options;
    options.input = input;
    options.env = std::move(env);
    options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
    return testing_support::Run(FERROVAN_LOADER_PATH, args, options);
  }

  void InstallClient() {
    std::filesystem::create_directories(At(kInstall));
    std::filesystem::copy_file(FERROVAN_BINARY_DIR "/ferrovan-demo-client",
                               At(kInstall + "Solvane.FerroVan.Mobile.Client.exe"));
    for (const char* name : kClientFiles) {
      WriteFile(At(kInstall + name), "library");
    }
  }

  // The starts the demo client has logged, each split at its tabs.
  std::vector<std::vector<std::string>> ClientStarts() const {
    std::vector<std::vector<std::string>> starts;
    std::istringstream log(Exists(At("demo-client.log")) ? ReadFile(At("demo-client.log")) : "");
    for (std::string line; std::getline(log, line);) {
      std::vector<std::string> fields;
      std::istringstream split(line);
      for (std::string field; std::getline(split, field, '\t');)
        fields.push_back(field);
      starts.push_back(fields);
    }
    return starts;
  }

  testing_support::TempDir root;
};

TEST_F(ConsoleLoaderTest, AFreshDeviceAsksForTheServerAddress) {
  const RunResult run = RunLoader({});
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
    std::filesystem::remove_all(Root());
    if (c.applicationFolder)
      std::filesystem::create_directories(At("Application"));

    // Nothing listens on port 1: the fetch fails and the prompt comes back, then input ends.
    const RunResult run = RunLoader({"-DoNotRunNewLoader"}, c.line);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(ReadFile(At(c.savedIn + "RFConfig.xml")), Settings("127.0.0.1:1"));
    EXPECT_NE(run.out.find("Server address []: \n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Server address [127.0.0.1:1/]: \n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(ConsoleLoaderTest, WithTheClientInPlaceItIsStartedInTheDeviceRoot) {
  InstallClient();
  WriteFile(At(kInstall + "RFConfig.xml"), Settings("  server.\n\texample \r\n"));

  const RunResult run = RunLoader({});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out.find("Server address"), std::string::npos) << run.out;
  ASSERT_TRUE(testing_support::WaitUntil([&] { return !ClientStarts().empty(); }));

  const auto starts = ClientStarts();
  ASSERT_EQ(starts.size(), 1u);
  const std::vector<std::string>& start = starts[0];
  ASSERT_EQ(start.size(), 4u);
  EXPECT_EQ(start[0], "Solvane.FerroVan.Mobile.Client.exe");
  EXPECT_EQ(std::filesystem::canonical(start[1]), std::filesystem::canonical(Root()));
  EXPECT_EQ(start[2], Root());
  EXPECT_EQ(start[3], "-NewLoader");
}

TEST_F(ConsoleLoaderTest, AMalformedSettingsFileGivesWayToTheInstallFolders) {
  WriteFile(At(kApplication + "RFConfig.xml"), "<Config><WebHostName>bad");
  WriteFile(At(kInstall + "RFConfig.xml"), Settings("127.0.0.1:1"));

  const RunResult run = RunLoader({"-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.out.find("Server address [127.0.0.1:1/]: \n"), std::string::npos) << run.out;
}

TEST_F(ConsoleLoaderTest, ABadHostOptionCreatesNothingAndGivesStatus2) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--ui"},
      {"--ui", "tv"},
      {"--ui=tv"},
      {"--device-root"},
      {"--device-root", Root(), "--verbose"},
      {"--device-root", Root(), std::string(40000, 'x')},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    const RunResult run = testing_support::Run(FERROVAN_LOADER_PATH, args);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("Usage: ferrovan-loader"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(Root()));
  }

  testing_support::RunOptions options;
  options.env = {{"FERROVAN_UI", "tv"}};
  const RunResult run =
      testing_support::Run(FERROVAN_LOADER_PATH, {"--device-root", Root()}, options);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_FALSE(Exists(Root()));
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
