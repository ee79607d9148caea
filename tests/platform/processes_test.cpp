#include "platform/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::Processes;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::WaitUntil;
using testing_support::WriteFile;

const std::string kPid = std::to_string(getpid());

class ProcessesTest : public ::testing::Test {
 protected:
  ProcessesTest() : root_(fs::canonical(temp_.Path()).string()) {
    platform::SetDeviceRoot(root_);
    setenv("FERROVAN_DEVICE_ROOT", root_.c_str(), 1);
    fs::create_directories(root_ + "/Program Files/FerroVanMobile");
  }

  // Whatever a failing test left running is stopped here, found as this process's children, so
  // that nothing outlives the test (or holds its output open).
  ~ProcessesTest() override {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
      const std::string stat = ReadFile(entry.path().string() + "/stat");
      const std::size_t end = stat.rfind(')');
      if (end == std::string::npos) {
        continue;
      }
      std::istringstream fields(stat.substr(end + 1));
      std::string state;
      pid_t parent = 0;
      fields >> state >> parent;
      if (parent == getpid()) {
        const pid_t child = static_cast<pid_t>(std::stol(stat));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
      }
    }
  }

  // Copies a program into the device under the given device path.
  std::wstring Install(const std::string& source, const std::string& devicePath) {
    const std::string target = platform::ToHostPath(std::string_view(devicePath));
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms(0755));
    return platform::FromUtf8(devicePath);
  }

  std::wstring Script(const std::string& name, const std::string& content) {
    WriteFile(root_ + "/" + name, content);
    fs::permissions(root_ + "/" + name, fs::perms(0755));
    return platform::FromUtf8(name);
  }

  // The demo client's log: one line per start, fields separated by tabs.
  std::vector<std::vector<std::string>> LogLines() {
    std::vector<std::vector<std::string>> lines;
    std::istringstream log(ReadFile(root_ + "/demo-client.log"));
    for (std::string line; std::getline(log, line);) {
      std::vector<std::string> fields;
      std::istringstream parts(line);
      for (std::string field; std::getline(parts, field, '\t');) {
        fields.push_back(field);
      }
      if (line.ends_with('\t')) {
        fields.emplace_back();
      }
      lines.push_back(fields);
    }
    return lines;
  }

  std::vector<pid_t> RunningAs(const std::string& name) {
    auto snapshot = Processes().TakeSnapshot();
    EXPECT_NE(snapshot, nullptr);
    std::vector<pid_t> found;
    const std::wstring wide = platform::FromUtf8(name);
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

TEST_F(ProcessesTest, ParametersAreSplitLikeAWindowsCommandLine) {
  const std::wstring client =
      Install(FERROVAN_BINARY_DIR "/ferrovan-demo-client",
              "Program Files\\FerroVanMobile\\Solvane.FerroVan.Mobile.Client.exe");
  const struct {
    const wchar_t* parameters;
    std::vector<std::string> arguments;
  } cases[] = {
      {L"-NewLoader", {"-NewLoader"}},
      {L"", {}},
      {L"/delete 0 /noui  \"Program Files\\FerroVanMobile\\NETCFv35.Messages.EN.cab\"",
       {"/delete", "0", "/noui", "Program Files\\FerroVanMobile\\NETCFv35.Messages.EN.cab"}},
      {L" a\t\"two  words\"  \"\" x\"y z\"w ", {"a", "two  words", "", "xy zw"}},
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

TEST_F(ProcessesTest, StartWithoutWaitReturnsWhileTheProgramRuns) {
  const std::wstring client =
      Install(FERROVAN_BINARY_DIR "/ferrovan-demo-client", "Program Files\\FerroVanMobile\\c.exe");
  ASSERT_TRUE(Processes().Start(client.c_str(), L"-DoNotRunNewLoader", false));
  EXPECT_TRUE(WaitUntil([&] { return LogLines().size() == 1; }));
  EXPECT_TRUE(WaitUntil([] { return waitpid(-1, nullptr, WNOHANG) > 0; }));
}

TEST_F(ProcessesTest, StartWithWaitReturnsOnlyAfterTheEnd) {
  const std::wstring slow = Script("slow.sh", "#!/bin/sh\nsleep 0.3\necho done > waited.txt\n");
  ASSERT_TRUE(Processes().Start(slow.c_str(), L"", true));
  EXPECT_EQ(ReadFile(root_ + "/waited.txt"), "done\n");
}

TEST_F(ProcessesTest, StartFailsForWhatCannotRun) {
  WriteFile(root_ + "/no-right.exe", "#!/bin/sh\n");
  fs::permissions(root_ + "/no-right.exe", fs::perms(0644));
  Script("not-a-program.exe", "just some words\n");
  Script("bad-interpreter.sh", "#!/nonexistent/interpreter\n");
  for (const wchar_t* file : {L"Program Files\\FerroVanMobile\\missing.exe", L"\\no-right.exe",
                              L"not-a-program.exe", L"bad-interpreter.sh", L"Program Files"}) {
    EXPECT_FALSE(Processes().Start(file, L"", true)) << file;
    EXPECT_FALSE(Processes().Start(file, L"", false)) << file;
  }
}

TEST_F(ProcessesTest, SnapshotFindsEveryInstanceAndTerminateStopsThem) {
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

TEST_F(ProcessesTest, TerminateRefusesIdsThatNameNoSingleProcess) {
  // kill(2) would read these as "my group" and "every process".
  for (std::uint32_t id : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_FALSE(Processes().Terminate(id)) << id;
  }
}

TEST_F(ProcessesTest, ScriptsAreListedUnderTheScriptsName) {
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
  const std::wstring parameters = L"-f " + platform::FromUtf8(watched);
  ASSERT_TRUE(Processes().Start(viewer.c_str(), parameters.c_str(), false));
  std::vector<pid_t> running;
  EXPECT_TRUE(WaitUntil([&] { return (running = RunningAs(viewerName)).size() == 1; }));
  EXPECT_TRUE(RunningAs(watched).empty());
  for (pid_t pid : running) {
    EXPECT_TRUE(Processes().Terminate(static_cast<std::uint32_t>(pid)));
    EXPECT_TRUE(Reaped(pid));
  }
}

}  // namespace
