#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/host.h"
#include "platform/linux/descriptors.h"
#include "platform/linux/device_processes.h"
#include "platform/linux/split_parameters.h"
#include "platform/processes.h"

extern char** environ;

namespace platform {
namespace {

// Starts program with argv in folder and returns its process id, or -1 when it cannot be run
// (missing, no execute right, not a program); never falls back to running a non-program through
// a shell. The program gets the standard streams and nothing else the loader holds (no download
// connection, file or pipe), default signal handling and nothing blocked, whatever the loader's
// threads or its download library set up for themselves.
//
// fork and exec, with exec's error carried back through a close-on-exec pipe. posix_spawn
// reports that error through memory it shares with its child, which an emulator running this
// program (qemu-user, for another processor's build) does not share: there a program that could
// not start looked started.
pid_t Spawn(const std::string& program, char* const argv[], const std::string& folder) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    return -1;
  }
  const pid_t child = fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on: the loader has other threads.
    sigset_t none;
    sigemptyset(&none);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
      sigaction(signal, &byDefault, nullptr);
    }
    sigprocmask(SIG_SETMASK, &none, nullptr);
    constexpr unsigned kFirstToClose = STDERR_FILENO + 1;
    const unsigned kept = static_cast<unsigned>(report[1]);
    int error = 0;
    if ((kept > kFirstToClose && close_range(kFirstToClose, kept - 1, 0) != 0) ||
        close_range(kept >= kFirstToClose ? kept + 1 : kFirstToClose, ~0U, 0) != 0 ||
        chdir(folder.c_str()) != 0) {
      error = errno;
    } else {
      execve(program.c_str(), argv, environ);
      error = errno;
    }
    while (write(report[1], &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t got = -1;
  if (child > 0) {
    got = RetryOnInterrupt([&] { return read(report[0], &error, sizeof error); });
  }
  close(report[0]);
  if (child > 0 && got != 0) {
    // The child reported why it could not run the program (or the report was lost): reap it.
    RetryOnInterrupt([&] { return waitpid(child, nullptr, 0); });
    return -1;
  }
  return child;
}

constexpr int kTerminateWaitMilliseconds = 2000;

class LinuxProcesses final : public ProcessService {
 public:
  bool Start(const wchar_t* file, const wchar_t* parameters, bool wait) override {
    if (file == nullptr) {
      return false;
    }
    std::string program = ToHostPath(file);
    std::vector<std::string> arguments = SplitParameters(parameters != nullptr ? parameters : L"");
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    const pid_t child = Spawn(program, argv.data(), DeviceRoot());
    if (child < 0) {
      return false;
    }
    if (wait) {
      int status = 0;
      RetryOnInterrupt([&] { return waitpid(child, &status, 0); });
    }
    return true;
  }

  // Only the programs running from files of this device: stopping the client on one device
  // must never stop another device's client on the same host.
  std::unique_ptr<ProcessSnapshot> TakeSnapshot() override {
    auto snapshot = std::make_unique<ProcessSnapshot>();
    const bool listed = ForEachDeviceProcess([&](const DeviceProcess& process) {
      snapshot->Add(process.processId, Utf8ToWide(process.name).c_str());
      return true;
    });
    return listed ? std::move(snapshot) : nullptr;
  }

  bool Terminate(std::uint32_t processId) override {
    // 0 and values beyond pid_t would reach kill(2) as "my group" or "everyone".
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
      return false;
    }
    const pid_t pid = static_cast<pid_t>(processId);
    // SIGKILL takes effect a moment later. Until then the process still holds its program file,
    // which the device then refuses to delete, so the clearing that follows a stop would leave
    // the client's file in place: wait, a bounded time, for the process to be gone.
    const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (kill(pid, SIGKILL) != 0) {
      if (handle >= 0) {
        close(handle);
      }
      return false;
    }
    if (handle >= 0) {
      pollfd ended{handle, POLLIN, 0};
      RetryOnInterrupt([&] { return poll(&ended, 1, kTerminateWaitMilliseconds); });
      close(handle);
    }
    return true;
  }
};

}  // namespace

template <>
ProcessService& HostService<ProcessService>() {
  static LinuxProcesses service;
  return service;
}

}  // namespace platform
