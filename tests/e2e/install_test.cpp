// What only the Linux host does end to end: the built binary started as a shell starts it, its
// output closed or its files limited, and its memory against the size of a file. The roads that
// every host shares are in roads_test.cpp.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/e2e/loopback_device.h"

extern char** environ;

namespace testing_support {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The built loader on a device, started as a shell starts a program (default handling of every
// signal), with its standard output and error into one pipe that the test reads or closes,
// standard input at its end, and optionally a file-size limit.
class ShellStartedLoader {
 public:
  ShellStartedLoader(const Device& device, const std::vector<std::string>& flags,
                     rlim_t fileSizeLimit = RLIM_INFINITY) {
    std::vector<std::string> args = {FERROVAN_LOADER_PATH, "--device-root", device.Root(), "--ui",
                                     "console"};
    args.insert(args.end(), flags.begin(), flags.end());
    std::vector<char*> argv;
    for (auto& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::string name = text.substr(0, text.find('='));
      if (name != "FERROVAN_DEVICE_ROOT" && name != "FERROVAN_UI" && name != "DISPLAY" &&
          name != "WAYLAND_DISPLAY") {
        envText.push_back(text);
      }
    }
    std::vector<char*> envp;
    for (auto& entry : envText) {
      envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int out[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      // Other tests in this process may have ignored SIGPIPE; a shell's child would not.
      signal(SIGPIPE, SIG_DFL);
      signal(SIGXFSZ, SIG_DFL);
      const rlimit limit = {fileSizeLimit, fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        _exit(125);
      }
      dup2(devNull, 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(devNull);
    close(out[1]);
    out_ = out[0];
  }
  ~ShellStartedLoader() {
    CloseOutput();
    if (!ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The next line of output without its line end; empty at its end or after 20 s.
  std::string ReadLine() {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      if (!Fill(deadline)) {
        return {};
      }
    }
  }
  // Everything it writes until the pipe's last writer has ended (at most 60 s).
  std::string ReadAll() {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Fill(deadline)) {
    }
    return std::exchange(pending_, {});
  }
  // What `| head -3` does once it has its lines.
  void CloseOutput() {
    if (out_ >= 0) {
      close(out_);
    }
    out_ = -1;
  }
  // The exit status, 128 + the signal that ended it, or -1 when it is still running after 60 s.
  int Wait() {
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                   std::chrono::seconds(60))) {
      return -1;
    }
    ended_ = true;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }

 private:
  bool Fill(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready = {out_, POLLIN, 0};
    if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0) {
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool ended_ = false;
  std::string pending_;
};

TEST(Install, AReaderThatGoesAwayMidInstallationLeavesItToFinish) {
  Device device;
  // The last library comes slowly, so both loaders still write long after the reader has gone.
  DownloadService service({"--slow", std::string(kClientLibraries[4]) + ":20000"});
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  ShellStartedLoader loader(device, {});
  for (int line = 0; line < 3; ++line) {
    EXPECT_FALSE(loader.ReadLine().empty());
  }
  loader.CloseOutput();

  EXPECT_EQ(loader.Wait(), 0);
  ASSERT_TRUE(WaitUntil([&] { return !device.ProgramStarts().empty(); }));
  EXPECT_EQ(device.ProgramStarts()[0].back(), "-NewLoader");
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }
}

TEST(Install, AFileSizeLimitFailsTheDownloadAndEndsInThePrompt) {
  Device device;
  DownloadService service;  // library files of 20000 bytes
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  ShellStartedLoader loader(device, {"-DoNotRunNewLoader"}, 10000);
  const std::string out = loader.ReadAll();
  EXPECT_EQ(loader.Wait(), 0) << out;
  EXPECT_TRUE(Contains(out,
                       "Error connecting to server.\nPlease check the Url or network "
                       "connectivity.\n" +
                           Prompt(service.Address() + "/")))
      << out;
  EXPECT_FALSE(Exists(device.Install(kClientLibraries[0])));
  EXPECT_TRUE(FilesIn(device.Path("Temp")).empty());
  EXPECT_TRUE(device.ProgramStarts().empty());
}

TEST(Install, MemoryStaysFlatWhateverTheFileSize) {
  long peakKb[2] = {0, 0};
  const std::size_t sizes[2] = {std::size_t{10} << 20, std::size_t{1} << 30};
  for (int i = 0; i < 2; ++i) {
    Device device;
    DownloadService service({}, 1000);
    {
      std::ofstream big(service.File(kClientLibraries[4]), std::ios::binary | std::ios::trunc);
      std::string chunk(1 << 20, 'x');
      for (std::size_t written = 0; written < sizes[i]; written += chunk.size()) {
        big << chunk;
      }
    }
    service.Start();
    device.WriteSettings("Program Files/FerroVanMobile", service.Address());
    RunResult run = device.RunLoader({"-DoNotRunNewLoader"});
    ASSERT_EQ(fs::file_size(device.Install(kClientLibraries[4])), sizes[i]) << run.out;
    peakKb[i] = run.maxResidentKb;
  }
  std::printf("peak resident size: %ld KiB for 10 MiB, %ld KiB for 1 GiB\n", peakKb[0], peakKb[1]);
  EXPECT_LT(std::labs(peakKb[1] - peakKb[0]), 4 * 1024);
}

}  // namespace
}  // namespace testing_support
