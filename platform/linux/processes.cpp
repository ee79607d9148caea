#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

class SpawnSettings {
 public:
  SpawnSettings() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
    // The program starts with default signal handling and nothing blocked, whatever the
    // loader's threads (or its download library) have set up for themselves.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnSettings() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  // The program gets the standard streams and nothing else the loader holds: no download
  // connection, file or pipe.
  bool InheritOnlyStandardStreams() {
    return posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1) == 0;
  }
  bool WorkIn(const std::string& folder) {
    return posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()) == 0;
  }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

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

    SpawnSettings settings;
    if (!settings.InheritOnlyStandardStreams() || !settings.WorkIn(DeviceRoot())) {
      return false;
    }
    pid_t child = -1;
    // posix_spawn reports a failed exec (missing file, no execute right, not a program) as its
    // result, and does not fall back to running a non-program through a shell.
    if (posix_spawn(&child, program.c_str(), settings.Actions(), settings.Attributes(), argv.data(),
                    environ) != 0) {
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
