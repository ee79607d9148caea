// Measures the everyday start: the time from starting the loader on a device that holds the
// client's files until the client runs, against the time to start the client directly.
// Usage: ferrovan-bench-start [RUNS]   (default 200)
//
// The client's first line on standard output marks "the client runs"; both it and the loader
// write into the same pipe, so the clock stops at the same event in both measurements.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Starts argv with stdout into a pipe and returns the microseconds until a line containing
// marker has been read from it.
double TimeUntilLine(const std::vector<std::string>& args, const std::string& marker) {
  int out[2];
  if (pipe(out) != 0)
    Fail("ferrovan-bench-start: pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const auto start = Clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    Fail("ferrovan-bench-start: starting a program");
  close(out[1]);
  std::string seen;
  char buffer[4096];
  double micros = -1;
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
    seen.append(buffer, static_cast<size_t>(n));
    if (micros < 0 && seen.find(marker) != std::string::npos) {
      micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
  }
  close(out[0]);
  waitpid(pid, nullptr, 0);
  posix_spawn_file_actions_destroy(&actions);
  return micros;
}

void Report(const char* what, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) {
    return samples[static_cast<size_t>(q * static_cast<double>(samples.size() - 1))];
  };
  std::printf("%-28s median %8.0f us   p90 %8.0f us   min %8.0f us   (%zu runs)\n", what, at(0.5),
              at(0.9), samples.front(), samples.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
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
  for (const char* library : libraries)
    std::ofstream(install / library) << "library";
  const fs::path client = install / "Solvane.FerroVan.Mobile.Client.exe";
  fs::copy_file(FERROVAN_DEMO_CLIENT_PATH, client);
  std::ofstream(install / "RFConfig.xml")
      << "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>127.0.0.1:1</WebHostName>\n</Config>\n";
  setenv("FERROVAN_DEVICE_ROOT", root.c_str(), 1);

  const std::string marker = "started with:";
  std::vector<double> direct, viaLoader;
  for (int i = 0; i < runs; ++i) {
    direct.push_back(TimeUntilLine({client.string(), "-NewLoader"}, marker));
    viaLoader.push_back(TimeUntilLine(
        {FERROVAN_LOADER_PATH, "--device-root", root.string(), "--ui", "console"}, marker));
  }
  std::printf("Start of the client on a device that holds its files, %d runs each:\n", runs);
  Report("client started directly", direct);
  Report("loader, then client", viaLoader);
  RemoveScratch();
  return 0;
}
