// What only Linux has of the console: a line read from a pipe, a file or a socket without
// taking what lies past it, and the line editor on a terminal. The cases of every host are in
// console_test.cpp.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/console/console_front_end.h"
#include "resources/dialog_template.h"
#include "tests/platform/console_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::WindowHandle;

using console_testing::kCancel;
using console_testing::kEdit;
using console_testing::kOk;
using console_testing::kStatus;

std::string Drain(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

void Put(int fd, const std::string& text) {
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

class LinuxConsoleTest : public console_testing::ConsoleFixture {
 protected:
  LinuxConsoleTest() {
    for (int* ends : {in, out, err}) {
      EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
    }
    // The test's own ends never wait; the console's input end does.
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    console = platform::MakeConsoleFrontEnd(in[0], out[1], err[1]);
  }
  ~LinuxConsoleTest() override {
    for (int* ends : {in, out, err}) {
      close(ends[0]);
      if (ends[1] >= 0) {
        close(ends[1]);
      }
    }
  }

  int in[2], out[2], err[2];
};

TEST_F(LinuxConsoleTest, ALongLineKeepsWhatTheEditBoxHoldsAndLeavesTheNextLineToTheNextReader) {
  // The cut falls just after a two-byte character; the dropped part ends in "\r\n".
  const std::string line = std::string(platform::kEditTextLimit - 1, 'a') + "\xc3\xa9" +
                           std::string(std::size_t{4} << 20, 'b') + "\r\n";
  const std::wstring kept = std::wstring(platform::kEditTextLimit - 1, L'a') + L"\u00e9";
  const std::string input = line + "next line\n";

  enum class Kind { Pipe, File, Socket };
  for (Kind kind : {Kind::Pipe, Kind::File, Kind::Socket}) {
    SCOPED_TRACE(static_cast<int>(kind));
    int ends[2] = {-1, -1};  // [0] the console reads, [1] the test writes
    testing_support::TempDir folder;
    if (kind == Kind::Pipe) {
      ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    } else if (kind == Kind::Socket) {
      ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    } else {
      testing_support::WriteFile(folder / "input", input);
      ends[0] = open((folder / "input").c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(ends[0], 0);
    }
    std::thread writer([&] {
      if (ends[1] < 0) {
        return;
      }
      Put(ends[1], input);
      close(ends[1]);
    });
    console = platform::MakeConsoleFrontEnd(ends[0], out[1], err[1]);
    commands.clear();
    editAtCommand.clear();
    Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Enter URL", L""); });
    writer.join();

    EXPECT_EQ(commands, std::vector<int>{kOk});
    EXPECT_EQ(editAtCommand.size(), kept.size());
    EXPECT_TRUE(editAtCommand == kept);
    EXPECT_EQ(Drain(ends[0]), "next line\n");
    close(ends[0]);
    Drain(out[0]);
  }
}

TEST_F(LinuxConsoleTest, OnATerminalTypingStopsAtWhatTheEditBoxHolds) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  console = platform::MakeConsoleFrontEnd(terminal, terminal, err[1]);

  std::mutex mutex;
  std::string shown;
  std::thread screen([&] {
    char buffer[4096];
    ssize_t got;
    while ((got = read(master, buffer, sizeof buffer)) > 0) {
      std::lock_guard lock(mutex);
      shown.append(buffer, static_cast<std::size_t>(got));
    }
  });
  std::thread keyboard([&] {
    // Keys typed before the prompt is up would meet the terminal's own line editing.
    testing_support::WaitUntil([&] {
      std::lock_guard lock(mutex);
      return shown.find("Server address [x]: x") != std::string::npos;
    });
    Put(master, "\x15" + std::string(platform::kEditTextLimit + 100, 'a') + "\x7f" + "b\r");
  });
  Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Enter URL", L"x"); });
  keyboard.join();
  close(terminal);
  screen.join();
  close(master);

  EXPECT_EQ(commands, std::vector<int>{kOk});
  EXPECT_TRUE(editAtCommand == std::wstring(platform::kEditTextLimit - 1, L'a') + L"b");
  // Each key is echoed once, not the whole line again.
  EXPECT_LT(shown.size(), std::size_t{3} * platform::kEditTextLimit);
}

}  // namespace
