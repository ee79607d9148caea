#include "private_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

extern char** environ;

namespace bench {
namespace {

constexpr int kDisplayFd = 3;
constexpr int kLimitMilliseconds = 30000;

}  // namespace

std::string ReadLine(int fd) {
  using Clock = std::chrono::steady_clock;
  std::string line;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kLimitMilliseconds);
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd, POLLIN, 0};
    if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) {
      return std::string();
    }
    char buffer[64];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      return std::string();
    }
    line.append(buffer, static_cast<std::size_t>(n));
  }
  return line;
}

pid_t StartPrivateDisplay() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], kDisplayFd);
  const std::string fd = std::to_string(kDisplayFd);
  const char* argv[] = {"/usr/bin/Xvfb", "-displayfd", fd.c_str(), "-screen",  "0",
                        "480x640x24",    "-nolisten",  "tcp",      "-noreset", nullptr};
  pid_t server = -1;
  const int failed =
      posix_spawn(&server, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  const std::string display = failed == 0 ? ReadLine(ends[0]) : std::string();
  close(ends[0]);
  if (display.empty()) {
    StopPrivateDisplay(failed == 0 ? server : -1);
    return -1;
  }
  setenv("DISPLAY", (":" + display.substr(0, display.find('\n'))).c_str(), 1);
  return server;
}

void StopPrivateDisplay(pid_t server) {
  if (server > 0) {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  }
}

}  // namespace bench
