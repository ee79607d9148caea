// Measures the everyday start: the time from starting the loader on a device that holds the
// client's files until the client runs, against starting the client directly, against the
// least a start-up script can do (a /bin/sh script that tests the six files with [ -e ] and
// execs the client) and against the least a program can do that starts the client as a new
// process, as the loader does (ferrovan-bench-start-floor). With Xvfb installed, the loader with
// its window on a private Xvfb (the device's own road: a display is there) is a fifth. They
// alternate, each run in a new place of the rotation, so that a busy moment of the machine falls
// on all of them alike.
// Usage: ferrovan-bench-start [RUNS [LOADER]]   (default 200 of each, and this build's loader)
//
// The client's first line on standard output marks "the client runs"; the loader, the script
// and the client write into the same pipe, so the clock stops at the same event for all three.
// The second clock stops when every process of the start has ended (the loader too), and the
// processor time of all of them is counted: on a busy machine it varies less than the clocks.
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "private_display.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The scratch device root, removed however the benchmark ends.
fs::path scratchRoot;

void RemoveScratch() {
  if (scratchRoot.empty() || chdir("/") != 0) {
    return;
  }
  std::error_code error;
  fs::remove_all(scratchRoot, error);
}

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  RemoveScratch();
  std::exit(1);
}

// What one start cost, in microseconds.
struct Timing {
  double untilClient;  // until the client's first line
  double untilEnd;     // until every process of the start has ended
  double cpu;          // processor time (user and system) of every process of the start
};

double Micros(const timeval& time) {
  return static_cast<double>(time.tv_sec) * 1e6 + static_cast<double>(time.tv_usec);
}

double ChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return Micros(usage.ru_utime) + Micros(usage.ru_stime);
}

// Starts args with stdout into a pipe and times it up to a line containing marker and to the
// end of every process it started (this program reaps the orphans too: see main).
Timing TimeRun(const std::vector<std::string>& args, const std::string& marker) {
  int out[2];
  if (pipe(out) != 0) {
    Fail("ferrovan-bench-start: pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // A process group of its own: the start's processes, and the orphans among them that come to
  // this program, are waited for by it, apart from the display server.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<char*> argv;
  for (const auto& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);

  const double cpuBefore = ChildrenCpu();
  const auto start = Clock::now();
  auto since = [&start] {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  };
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) {
    Fail("ferrovan-bench-start: starting a program");
  }
  close(out[1]);
  std::string seen;
  char buffer[4096];
  Timing timing{-1, -1, -1};
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
    seen.append(buffer, static_cast<size_t>(n));
    if (timing.untilClient < 0 && seen.find(marker) != std::string::npos) {
      timing.untilClient = since();
    }
  }
  close(out[0]);
  int status = 0;
  bool succeeded = true;
  for (;;) {
    int any = 0;
    const pid_t ended = waitpid(-pid, &any, 0);
    if (ended < 0) {
      break;
    }
    if (ended == pid) {
      status = any;
    }
    succeeded = succeeded && WIFEXITED(any) && WEXITSTATUS(any) == 0;
  }
  timing.untilEnd = since();
  timing.cpu = ChildrenCpu() - cpuBefore;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (timing.untilClient < 0 || !succeeded || !WIFEXITED(status)) {
    std::fprintf(stderr, "ferrovan-bench-start: %s did not start the client; it wrote:\n%s\n",
                 args[0].c_str(), seen.c_str());
    RemoveScratch();
    std::exit(1);
  }
  return timing;
}

double Median(const std::vector<Timing>& timings, double Timing::*field) {
  std::vector<double> samples;
  for (const Timing& timing : timings) {
    samples.push_back(timing.*field);
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

void Report(const char* what, const std::vector<Timing>& timings) {
  std::printf("%-30s %8.0f us %8.0f us %8.0f us\n", what, Median(timings, &Timing::untilClient),
              Median(timings, &Timing::untilEnd), Median(timings, &Timing::cpu));
}

void Ratio(const char* what, const std::vector<Timing>& a, const std::vector<Timing>& b) {
  auto ratio = [&](double Timing::*field) { return Median(a, field) / Median(b, field); };
  std::printf("%-30s %8.2f    %8.2f    %8.2f\n", what, ratio(&Timing::untilClient),
              ratio(&Timing::untilEnd), ratio(&Timing::cpu));
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  // Another build's loader, to compare two builds on one machine.
  const std::string loader = argc > 2 ? fs::absolute(argv[2]).string() : FERROVAN_LOADER_PATH;
  // Everything happens in a scratch device root that is also the working folder, so that
  // whatever the client or the loader leave behind goes with it.
  std::string scratch = (fs::temp_directory_path() / "ferrovan-bench-XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr) {
    Fail("ferrovan-bench-start: scratch folder");
  }
  scratchRoot = scratch;
  if (chdir(scratch.c_str()) != 0) {
    Fail("ferrovan-bench-start: scratch folder");
  }
  const fs::path root = scratchRoot;
  const fs::path install = root / "Program Files" / "FerroVanMobile";
  fs::create_directories(install);
  const char* libraries[] = {
      "Solvane.Mobile.Common.dll", "Solvane.Ferrovan.Mobile.Client.Business.dll",
      "Solvane.Ferrovan.Mobile.Client.Common.dll", "Solvane.Ferrovan.Mobile.Client.Data.dll",
      "Solvane.Ferrovan.Mobile.GUI.dll"};
  for (const char* library : libraries) {
    std::ofstream(install / library) << "library";
  }
  const fs::path client = install / "Solvane.FerroVan.Mobile.Client.exe";
  fs::copy_file(FERROVAN_DEMO_CLIENT_PATH, client);
  std::ofstream(install / "RFConfig.xml")
      << "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>127.0.0.1:1</WebHostName>\n</Config>\n";
  setenv("FERROVAN_DEVICE_ROOT", root.c_str(), 1);

  // What a start-up script would do in the loader's place, as /bin/sh runs it.
  const fs::path script = root / "start-client.sh";
  {
    std::ofstream text(script);
    text << "cd \"$FERROVAN_DEVICE_ROOT\" || exit 1\n"
         << "dir=\"Program Files/FerroVanMobile\"\n";
    for (const char* library : libraries) {
      text << "[ -e \"$dir/" << library << "\" ] || exit 1\n";
    }
    text << "[ -e \"$dir/Solvane.FerroVan.Mobile.Client.exe\" ] || exit 1\n"
         << "exec \"$dir/Solvane.FerroVan.Mobile.Client.exe\" -NewLoader\n";
  }

  // The client that the loader starts outlives it; as the reaper of orphans this program
  // waits for it too and counts its processor time.
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
    Fail("ferrovan-bench-start: becoming the reaper of orphans");
  }

  const std::string marker = "started with:";
  std::vector<std::vector<std::string>> starts = {
      {client.string(), "-NewLoader"},
      {loader, "--device-root", root.string(), "--ui", "console"},
      {"/bin/sh", script.string()},
      {FERROVAN_START_FLOOR_PATH},
  };
  const pid_t display = access("/usr/bin/Xvfb", X_OK) == 0 ? bench::StartPrivateDisplay() : -1;
  if (display > 0) {
    starts.push_back({loader, "--device-root", root.string(), "--ui", "window"});
  }
  const int kStarts = static_cast<int>(starts.size());
  std::vector<std::vector<Timing>> timings(starts.size());
  for (int i = 0; i < runs; ++i) {
    for (int k = 0; k < kStarts; ++k) {
      const int which = (i + k) % kStarts;
      timings[which].push_back(TimeRun(starts[which], marker));
    }
  }
  std::printf(
      "Start of the client on a device that holds its files, %d runs of each, alternating.\n"
      "Medians:                        client runs  all ended   processor\n",
      runs);
  Report("client started directly", timings[0]);
  Report("loader, then client", timings[1]);
  Report("/bin/sh script, then client", timings[2]);
  Report("smallest starter, then client", timings[3]);
  std::printf("Ratios of the medians:\n");
  Ratio("loader / direct start", timings[1], timings[0]);
  Ratio("loader / /bin/sh script", timings[1], timings[2]);
  Ratio("loader / smallest starter", timings[1], timings[3]);
  Ratio("smallest starter / direct", timings[3], timings[0]);
  if (display > 0) {
    std::printf("With the window, on Xvfb 480x640:\n");
    Report("loader (window), then client", timings[4]);
    Ratio("loader (window) / smallest", timings[4], timings[3]);
  } else {
    std::printf("(no Xvfb: the window's road was not measured)\n");
  }
  bench::StopPrivateDisplay(display);
  RemoveScratch();
  return 0;
}
