// Starting programs on every host: the demo client of this host installed on a scratch device,
// started in the device root with the parameters split as a Windows command line is.
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/text.h"
#include "tests/support/demo_client_log.h"
#include "tests/support/host_traits.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::Processes;
using testing_support::ReadFile;
using testing_support::WaitUntil;

constexpr wchar_t kClient[] = L"Program Files\\FerroVanMobile\\Solvane.FerroVan.Mobile.Client.exe";

class ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDeviceRoot(root_.Path());
    ASSERT_TRUE(platform::CreateSystemFolders());
    fs::create_directories(platform::ToHostPath(std::string_view("Program Files\\FerroVanMobile")));
    const std::string client = platform::ToHostPath(std::wstring_view(kClient));
    fs::copy_file(testing_support::DemoClientProgram(), client);
    fs::permissions(client, fs::perms::owner_all, fs::perm_options::add);
    // The demo client keeps its log in its working folder when it is given no device root.
    testing_support::SetVariable("FERROVAN_DEVICE_ROOT", nullptr);
  }

  std::vector<std::vector<std::string>> LogLines() {
    return testing_support::DemoClientStarts(root_.Path());
  }

  testing_support::TempDir root_;
};

TEST_F(ProcessesTest, StartWithWaitRunsTheProgramInTheDeviceRootWithItsParametersSplit) {
  const struct {
    const wchar_t* parameters;
    std::vector<std::string> arguments;
  } cases[] = {
      {L"-NewLoader", {"-NewLoader"}},
      {L"", {}},
      {L"/delete 0 /noui  \"Program Files\\FerroVanMobile\\NETCFv35.Messages.EN.cab\"",
       {"/delete", "0", "/noui", "Program Files\\FerroVanMobile\\NETCFv35.Messages.EN.cab"}},
      {L" a\t\"two  words\"  \"\" x\"y z\"w ", {"a", "two  words", "", "xy zw"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::WideToUtf8(c.parameters));
    fs::remove(root_ / "demo-client.log");
    ASSERT_TRUE(Processes().Start(kClient, c.parameters, true));
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u) << "started and waited for once";
    ASSERT_GE(lines[0].size(), 3u);
    EXPECT_EQ(lines[0][0], "Solvane.FerroVan.Mobile.Client.exe");
    EXPECT_TRUE(fs::equivalent(lines[0][1], root_.Path())) << lines[0][1];
    EXPECT_EQ(std::vector<std::string>(lines[0].begin() + 3, lines[0].end()), c.arguments);
  }
}

TEST_F(ProcessesTest, StartWithoutWaitReturnsAndTheProgramRuns) {
  ASSERT_TRUE(Processes().Start(kClient, L"-DoNotRunNewLoader", false));
  EXPECT_TRUE(WaitUntil([&] { return LogLines().size() == 1; }));
}

TEST_F(ProcessesTest, StartFailsForWhatCannotRun) {
  testing_support::WriteFile(root_ / "Program Files/FerroVanMobile/broken.exe", "MZ cut");
  for (const wchar_t* file : {L"Program Files\\FerroVanMobile\\missing.exe",
                              L"\\Program Files\\FerroVanMobile\\broken.exe", L"Program Files"}) {
    SCOPED_TRACE(platform::WideToUtf8(file));
    EXPECT_FALSE(Processes().Start(file, L"", true));
    EXPECT_FALSE(Processes().Start(file, L"", false));
  }
  EXPECT_FALSE(testing_support::Exists(root_ / "demo-client.log"));
}

TEST_F(ProcessesTest, TerminateRefusesIdsThatNameNoProcess) {
  // 0 is Windows' idle process, and kill(2) would read the others as a group or every process.
  for (std::uint32_t id : {0u, 0xFFFFFFFFu, 0xFFFFFFFDu, 0x80000000u}) {
    EXPECT_FALSE(Processes().Terminate(id)) << id;
  }
}

}  // namespace
