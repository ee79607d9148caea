// What only Linux has of processes: scripts, programs it reaps with waitpid, the process list
// of /proc and the descriptors a program inherits. The cases of every host are in
// processes_test.cpp.
#include "platform/processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/host.h"
#include "tests/support/child_process.h"
#include "tests/support/demo_client_log.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::Processes;
using testing_support::BackgroundProcess;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::WaitUntil;
using testing_support::WriteFile;

const std::string kPid = std::to_string(getpid());

class LinuxProcessesTest : public ::testing::Test {
 protected:
  LinuxProcessesTest() : root_(fs::canonical(temp_.Path()).string()) {
    platform::SetDeviceRoot(root_);
    setenv("FERROVAN_DEVICE_ROOT", root_.c_str(), 1);
    fs::create_directories(root_ + "/Program Files/FerroVanMobile");
  }

  // Whatever a failing test left running is stopped here, found as this process's children, so
  // that nothing outlives the test (or holds its output open).
  ~LinuxProcessesTest() override { testing_support::StopAndReapChildren(); }

  // Copies a program into the device under the given device path.
  std::wstring Install(const std::string& source, const std::string& devicePath) {
    const std::string target = platform::ToHostPath(std::string_view(devicePath));
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms(0755));
    return platform::Utf8ToWide(devicePath);
  }

  std::wstring Script(const std::string& name, const std::string& content) {
    WriteFile(root_ + "/" + name, content);
    fs::permissions(root_ + "/" + name, fs::perms(0755));
    return platform::Utf8ToWide(name);
  }

  std::vector<std::vector<std::string>> LogLines() {
    return testing_support::DemoClientStarts(root_);
  }

  std::vector<pid_t> RunningAs(const std::string& name) {
    auto snapshot = Processes().TakeSnapshot();
    EXPECT_NE(snapshot, nullptr);
    std::vector<pid_t> found;
    const std::wstring wide = platform::Utf8ToWide(name);
    platform::ProcessEntry entry;
    while (snapshot != nullptr && snapshot->Next(entry)) {
      if (entry.exeFile == wide) {
        found.push_back(static_cast<pid_t>(entry.processId));
      }
    }
    return found;
  }

  static bool Reaped(pid_t pid) {
    return WaitUntil([pid] { return waitpid(pid, nullptr, WNOHANG) == pid; });
  }

  testing_support::TempDir temp_;
  std::string root_;
};

TEST_F(LinuxProcessesTest, ParametersAreSplitLikeAWindowsCommandLine) {
  const std::wstring client =
      Install(FERROVAN_BINARY_DIR "/ferrovan-demo-client",
              "Program Files\\FerroVanMobile\\Solvane.FerroVan.Mobile.Client.exe");
  const struct {
    const wchar_t* parameters;
    std::vector<std::string> arguments;
  } cases[] = {
      // The device's own rules (the rows of every host are in processes_test.cpp): a backslash
      // before a quote is a plain character, and the narrow arguments are UTF-8.
      {L"\"Program Files\\FerroVanMobile\\\" caf\xE9", {"Program Files\\FerroVanMobile\\", "café"}},
  };
  for (const auto& c : cases) {
    fs::remove(root_ + "/demo-client.log");
    ASSERT_TRUE(Processes().Start(client.c_str(), c.parameters, true));
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u) << "started and waited for once";
    std::vector<std::string> expected = {"Solvane.FerroVan.Mobile.Client.exe", root_, root_};
    expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());
    EXPECT_EQ(lines[0], expected);
  }
}

TEST_F(LinuxProcessesTest, StartWithoutWaitReturnsWhileTheProgramRuns) {
  const std::wstring client =
      Install(FERROVAN_BINARY_DIR "/ferrovan-demo-client", "Program Files\\FerroVanMobile\\c.exe");
  ASSERT_TRUE(Processes().Start(client.c_str(), L"-DoNotRunNewLoader", false));
  EXPECT_TRUE(WaitUntil([&] { return LogLines().size() == 1; }));
  EXPECT_TRUE(WaitUntil([] { return waitpid(-1, nullptr, WNOHANG) > 0; }));
}

TEST_F(LinuxProcessesTest, StartWithWaitReturnsOnlyAfterTheEnd) {
  const std::wstring slow = Script("slow.sh", "#!/bin/sh\nsleep 0.3\necho done > waited.txt\n");
  ASSERT_TRUE(Processes().Start(slow.c_str(), L"", true));
  EXPECT_EQ(ReadFile(root_ + "/waited.txt"), "done\n");
}

TEST_F(LinuxProcessesTest, StartFailsForWhatCannotRun) {
  WriteFile(root_ + "/no-right.exe", "#!/bin/sh\n");
  fs::permissions(root_ + "/no-right.exe", fs::perms(0644));
  Script("not-a-program.exe", "just some words\n");
  Script("bad-interpreter.sh", "#!/nonexistent/interpreter\n");
  for (const wchar_t* file : {L"\\no-right.exe", L"not-a-program.exe", L"bad-interpreter.sh"}) {
    EXPECT_FALSE(Processes().Start(file, L"", true)) << file;
    EXPECT_FALSE(Processes().Start(file, L"", false)) << file;
  }
}

TEST_F(LinuxProcessesTest, SnapshotFindsEveryInstanceAndTerminateStopsThem) {
  const std::string name = "Sleeper." + kPid + ".exe";
  const std::wstring sleeper = Install("/bin/sleep", "Program Files\\FerroVanMobile\\" + name);
  ASSERT_TRUE(Processes().Start(sleeper.c_str(), L"300", false));
  ASSERT_TRUE(Processes().Start(sleeper.c_str(), L"300", false));

  std::vector<pid_t> running;
  ASSERT_TRUE(WaitUntil([&] { return (running = RunningAs(name)).size() == 2; }));
  EXPECT_TRUE(RunningAs("sleeper." + kPid + ".exe").empty());

  for (pid_t pid : running) {
    EXPECT_TRUE(Processes().Terminate(static_cast<std::uint32_t>(pid)));
  }
  for (pid_t pid : running) {
    EXPECT_TRUE(Reaped(pid)) << pid;
    EXPECT_FALSE(Processes().Terminate(static_cast<std::uint32_t>(pid))) << "gone";
  }
  EXPECT_TRUE(RunningAs(name).empty());
}

TEST_F(LinuxProcessesTest, TerminateRefusesIdsThatNameNoSingleProcess) {
  // kill(2) would read these as "my group" and "every process".
  for (std::uint32_t id : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_FALSE(Processes().Terminate(id)) << id;
  }
}

TEST_F(LinuxProcessesTest, ScriptsAreListedUnderTheScriptsName) {
  // The shell blocks opening the pipe, so the script keeps running without a child of its own.
  ASSERT_EQ(mkfifo((root_ + "/block.fifo").c_str(), 0600), 0);
  const char* firstLines[] = {"#!/bin/sh\n", "#!/bin/sh -e\n"};
  for (const char* firstLine : firstLines) {
    const std::string name = "Client Script." + kPid + ".sh";
    const std::wstring script = Script(name, std::string(firstLine) + "read line < block.fifo\n");
    ASSERT_TRUE(Processes().Start(script.c_str(), L"", false));
    std::vector<pid_t> running;
    EXPECT_TRUE(WaitUntil([&] { return (running = RunningAs(name)).size() == 1; })) << firstLine;
    for (pid_t pid : running) {
      EXPECT_TRUE(Processes().Terminate(static_cast<std::uint32_t>(pid)));
      EXPECT_TRUE(Reaped(pid));
    }
  }

  // A program that merely reads a script keeps its own name.
  const std::string viewerName = "Viewer." + kPid + ".exe";
  const std::wstring viewer = Install("/usr/bin/tail", viewerName);
  const std::string watched = "watched." + kPid + ".sh";
  Script(watched, "#!/bin/sh\n");
  const std::wstring parameters = L"-f " + platform::Utf8ToWide(watched);
  ASSERT_TRUE(Processes().Start(viewer.c_str(), parameters.c_str(), false));
  std::vector<pid_t> running;
  EXPECT_TRUE(WaitUntil([&] { return (running = RunningAs(viewerName)).size() == 1; }));
  EXPECT_TRUE(RunningAs(watched).empty());
  for (pid_t pid : running) {
    EXPECT_TRUE(Processes().Terminate(static_cast<std::uint32_t>(pid)));
    EXPECT_TRUE(Reaped(pid));
  }
}

TEST_F(LinuxProcessesTest, SnapshotHoldsOnlyTheProgramsOfThisDevice) {
  // The same program names running from another folder of the host: another device's.
  testing_support::TempDir other;
  const std::string sleeperName = "Sleeper." + kPid + ".exe";
  const std::string scriptName = "Client Script." + kPid + ".sh";
  ASSERT_EQ(mkfifo((root_ + "/block.fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((other / "block.fifo").c_str(), 0600), 0);
  const std::string blocked = "#!/bin/sh\nread line < block.fifo\n";
  const std::wstring sleeper = Install("/bin/sleep", sleeperName);
  const std::wstring script = Script(scriptName, blocked);
  fs::copy_file("/bin/sleep", other / sleeperName);
  WriteFile(other / scriptName, blocked);
  fs::permissions(other / scriptName, fs::perms(0755));

  ASSERT_TRUE(Processes().Start(sleeper.c_str(), L"300", false));
  ASSERT_TRUE(Processes().Start(script.c_str(), L"", false));
  testing_support::RunOptions inOther;
  inOther.workingFolder = other.Path();
  BackgroundProcess otherSleeper(other / sleeperName, {"300"}, inOther);
  BackgroundProcess otherScript(other / scriptName, {}, inOther);
  // Listed or not, the other device's programs must have started before the snapshot counts.
  const std::string otherScriptPath = fs::canonical(other / scriptName).string();
  ASSERT_TRUE(WaitUntil([&] {
    return fs::read_symlink("/proc/" + std::to_string(otherSleeper.Pid()) + "/exe") ==
               fs::canonical(other / sleeperName) &&
           ReadFile("/proc/" + std::to_string(otherScript.Pid()) + "/cmdline")
                   .find(otherScriptPath) != std::string::npos;
  }));

  // The root as the loader may be given it: canonical, or through a link to it.
  const std::string link = other / "link-to-device";
  fs::create_directory_symlink(root_, link);
  for (const std::string& spelling : {root_, link, link + "/"}) {
    platform::SetDeviceRoot(spelling);
    std::vector<pid_t> sleepers;
    std::vector<pid_t> scripts;
    EXPECT_TRUE(WaitUntil([&] {
      sleepers = RunningAs(sleeperName);
      scripts = RunningAs(scriptName);
      return sleepers.size() == 1 && scripts.size() == 1;
    })) << spelling
        << ": " << sleepers.size() << " sleepers, " << scripts.size() << " scripts";
  }

  // A root that does not exist holds no programs.
  platform::SetDeviceRoot(root_ + "/missing");
  EXPECT_TRUE(RunningAs(sleeperName).empty());
}

TEST_F(LinuxProcessesTest, StartedProgramsInheritOnlyTheStandardStreams) {
  // Descriptors that the starter holds open across exec: a file and a connection.
  const int file = open("/dev/null", O_RDONLY);
  int connection[2] = {-1, -1};
  ASSERT_GE(file, 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, connection), 0);

  const std::string name = "Holder." + kPid + ".exe";
  const std::wstring holder = Install("/bin/sleep", "Program Files\\FerroVanMobile\\" + name);
  ASSERT_TRUE(Processes().Start(holder.c_str(), L"300", false));
  std::vector<pid_t> running;
  ASSERT_TRUE(WaitUntil([&] { return (running = RunningAs(name)).size() == 1; }));

  // The program's own start-up (its libraries, its locale) opens files for a moment; what it
  // inherited stays.
  std::vector<std::string> held;
  EXPECT_TRUE(WaitUntil([&] {
    held.clear();
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(running[0]) + "/fd", error)) {
      held.push_back(entry.path().filename().string());
    }
    std::sort(held.begin(), held.end());
    return held == std::vector<std::string>{"0", "1", "2"};
  })) << testing::PrintToString(held);
  close(file);
  close(connection[0]);
  close(connection[1]);
}

}  // namespace
