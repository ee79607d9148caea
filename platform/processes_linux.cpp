#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_root.h"
#include "platform/processes.h"
#include "platform/split_parameters_linux.h"
#include "platform/utf8.h"

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

  bool WorkIn(const std::string& folder) {
    return posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()) == 0;
  }
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

std::string LastComponent(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Up to limit bytes of a file; empty when it cannot be read. Never blocks on a pipe or device.
std::string ReadStart(const std::string& path, std::size_t limit, bool regularOnly) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return {};
  }
  std::string content;
  struct stat status {};
  if (!regularOnly || (fstat(fd, &status) == 0 && S_ISREG(status.st_mode))) {
    content.resize(limit);
    std::size_t used = 0;
    while (used < limit) {
      const ssize_t got = read(fd, content.data() + used, limit - used);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      used += static_cast<std::size_t>(got);
    }
    content.resize(used);
  }
  close(fd);
  return content;
}

// The first three arguments are all that naming a process needs.
std::vector<std::string> LeadingArguments(const std::string& processFolder) {
  const std::string raw = ReadStart(processFolder + "/cmdline", 3 * (PATH_MAX + 1), false);
  std::vector<std::string> arguments;
  for (std::size_t pos = 0; pos < raw.size() && arguments.size() < 3;) {
    const std::size_t end = raw.find('\0', pos);
    if (end == std::string::npos) {
      break;
    }
    arguments.push_back(raw.substr(pos, end - pos));
    pos = end + 1;
  }
  return arguments;
}

// For a script started through its "#!" line the kernel runs the interpreter with the
// arguments: interpreter, its optional argument, the script's path. A candidate counts as the
// script when it is a file whose "#!" line names the running interpreter (directly or through
// env) and, in the second position, that optional argument too: an editor or viewer that
// merely opened a script keeps its own name.
std::string ScriptName(const std::string& processFolder, const std::vector<std::string>& args) {
  if (args.size() < 2 || args[0].empty()) {
    return {};
  }
  const std::string interpreter = LastComponent(args[0]);
  for (std::size_t i = 1; i < args.size() && i <= 2; ++i) {
    const std::string& candidate = args[i];
    if (candidate.empty()) {
      continue;
    }
    const std::string path =
        candidate.front() == '/' ? candidate : processFolder + "/cwd/" + candidate;
    std::string head = ReadStart(path, 256, true);
    if (!head.starts_with("#!")) {
      continue;
    }
    head = head.substr(0, head.find('\n'));
    if (head.find(interpreter) == std::string::npos ||
        (i == 2 && head.find(args[1]) == std::string::npos)) {
      continue;
    }
    return LastComponent(candidate);
  }
  return {};
}

std::string ExecutablePath(const std::string& processFolder) {
  std::string target(PATH_MAX, '\0');
  const ssize_t size = readlink((processFolder + "/exe").c_str(), target.data(), target.size());
  if (size <= 0) {
    return {};
  }
  target.resize(static_cast<std::size_t>(size));
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.ends_with(kDeleted)) {
    target.resize(target.size() - kDeleted.size());
  }
  return target;
}

// Empty for processes that have nothing to be known by (kernel threads, ended ones).
std::string ProgramName(const std::string& processFolder) {
  const std::vector<std::string> args = LeadingArguments(processFolder);
  if (std::string script = ScriptName(processFolder, args); !script.empty()) {
    return script;
  }
  if (const std::string exe = ExecutablePath(processFolder); !exe.empty()) {
    return LastComponent(exe);
  }
  // Another user's process: its program file is hidden, its command line is not.
  return args.empty() ? std::string() : LastComponent(args[0]);
}

bool ParseProcessId(const char* text, std::uint32_t& processId) {
  std::uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || value > UINT32_MAX / 10) {
      return false;
    }
    value = value * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  processId = static_cast<std::uint32_t>(value);
  return *text != '\0' && value != 0 && value <= UINT32_MAX;
}

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
    if (!settings.WorkIn(DeviceRoot())) {
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
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }
    return true;
  }

  std::unique_ptr<ProcessSnapshot> TakeSnapshot() override {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
      return nullptr;
    }
    std::vector<ProcessEntry> entries;
    while (const dirent* entry = readdir(proc)) {
      ProcessEntry process{};
      if (!ParseProcessId(entry->d_name, process.processId)) {
        continue;
      }
      const std::wstring name = FromUtf8(ProgramName(std::string("/proc/") + entry->d_name));
      if (!name.empty() && CopyText(process.exeFile, name.c_str())) {
        entries.push_back(process);
      }
    }
    closedir(proc);
    return std::make_unique<ProcessSnapshot>(std::move(entries));
  }

  bool Terminate(std::uint32_t processId) override {
    // 0 and values beyond pid_t would reach kill(2) as "my group" or "everyone".
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
      return false;
    }
    return kill(static_cast<pid_t>(processId), SIGKILL) == 0;
  }
};

}  // namespace

template <>
ProcessService& LinuxService<ProcessService>() {
  static LinuxProcesses service;
  return service;
}

}  // namespace platform
