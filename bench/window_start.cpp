// Measures the window's start: the time from starting a program until its window's first
// complete drawing has reached the X server, for the loader (its dialog on a device with no
// settings file, where it stays open at the address prompt) against the floor, the least FLTK
// program that shows a full-screen window. The two alternate on a private Xvfb.
// Usage: ferrovan-bench-window [RUNS [LOADER]]   (default 50 of each, and this build's loader)
//
// Both programs write one line on the descriptor named in FERROVAN_PAINT_NOTICE_FD after their
// first drawing and an XSync; the clock stops when that line arrives. Each is then killed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "private_display.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kNoticeFd = 3;

fs::path scratchRoot;
pid_t serverPid = -1;

void CleanUp() {
  bench::StopPrivateDisplay(serverPid);
  serverPid = -1;
  if (!scratchRoot.empty()) {
    std::error_code error;
    fs::remove_all(scratchRoot, error);
  }
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "ferrovan-bench-window: %s\n", what.c_str());
  CleanUp();
  std::exit(1);
}

// Starts args with the write end of a pipe as descriptor kNoticeFd, the rest of the standard
// streams on /dev/null; returns the child and the pipe's read end.
pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnvironment,
            int& readEnd) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    Fail("pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], kNoticeFd);
  std::vector<char*> argv;
  for (const auto& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<std::string> environment(extraEnvironment);
  for (char** e = environ; *e != nullptr; ++e) {
    environment.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (auto& e : environment) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (failed != 0) {
    close(pipeFds[0]);
    Fail("cannot start " + args[0]);
  }
  readEnd = pipeFds[0];
  return pid;
}

// Starts the private Xvfb; sets DISPLAY.
void StartServer() {
  serverPid = bench::StartPrivateDisplay();
  if (serverPid < 0) {
    Fail("Xvfb did not start (is it installed?)");
  }
}

// Microseconds from start until the paint notice.
double TimeRun(const std::vector<std::string>& args) {
  int readEnd = -1;
  const auto start = Clock::now();
  const pid_t pid = Start(args, {"FERROVAN_PAINT_NOTICE_FD=" + std::to_string(kNoticeFd)}, readEnd);
  const std::string notice = bench::ReadLine(readEnd);
  const auto painted = Clock::now();
  close(readEnd);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  if (notice != "painted\n") {
    Fail(args[0] + " sent no paint notice");
  }
  return std::chrono::duration<double, std::micro>(painted - start).count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  const std::string loader = argc > 2 ? fs::absolute(argv[2]).string() : FERROVAN_LOADER_PATH;
  std::string scratch = (fs::temp_directory_path() / "ferrovan-bench-XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr) {
    Fail("cannot make a scratch folder");
  }
  scratchRoot = scratch;
  StartServer();

  const std::vector<std::string> starts[] = {
      {FERROVAN_WINDOW_FLOOR_PATH},
      {loader, "--device-root", scratch, "--ui", "window"},
  };
  // One start of each first: the device's folders are made and the files are in the cache.
  for (const auto& start : starts) {
    TimeRun(start);
  }
  std::vector<double> timings[2];
  for (int i = 0; i < runs; ++i) {
    for (int k = 0; k < 2; ++k) {
      const int which = (i + k) % 2;
      timings[which].push_back(TimeRun(starts[which]));
    }
  }
  const double floor = Median(timings[0]);
  const double loader_ = Median(timings[1]);
  std::printf(
      "Start until the window's first complete drawing, Xvfb 480x640, %d runs of each, "
      "alternating.\n"
      "Medians:\n"
      "full-screen FLTK window (floor) %8.0f us\n"
      "loader's dialog                 %8.0f us\n"
      "loader / floor                  %8.2f\n",
      runs, floor, loader_, loader_ / floor);
  CleanUp();
  return 0;
}
