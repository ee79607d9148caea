#include "platform/linux/device_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/device_root.h"
#include "platform/linux/binary_formats.h"
#include "platform/linux/descriptors.h"

namespace platform {
namespace {

std::string LastComponent(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The path with every link and ".." resolved; empty when it does not lead to an existing file.
std::string Canonical(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    return {};
  }
  std::string canonical = resolved;
  std::free(resolved);
  return canonical;
}

bool Inside(const std::string& root, const std::string& path) {
  if (root == "/") {
    return path.size() > 1 && path.front() == '/';
  }
  return path.size() > root.size() + 1 && path.starts_with(root) && path[root.size()] == '/';
}

// Up to limit bytes of a file; empty when it cannot be read. Never blocks on a pipe or device.
std::string ReadStart(const std::string& path, std::size_t limit, bool regularOnly) {
  const int fd = OpenToRead(path);
  if (fd < 0) {
    return {};
  }
  std::string content;
  struct stat status {};
  if (!regularOnly || (fstat(fd, &status) == 0 && S_ISREG(status.st_mode))) {
    ReadUpTo(fd, limit, content);
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

struct Script {
  std::string path;  // as the process sees it; empty when the process runs no script
  std::string name;
};

// For a script started through its "#!" line the kernel runs the interpreter with the
// arguments: interpreter, its optional argument, the script's path. A candidate counts as the
// script when it is a file whose "#!" line names the running interpreter (directly or through
// env) and, in the second position, that optional argument too: an editor or viewer that
// merely opened a script keeps its own name.
Script FindScript(const std::string& processFolder, const std::vector<std::string>& args) {
  if (args.size() < 2 || args[0].empty()) {
    return {};
  }
  const std::string interpreter = LastComponent(args[0]);
  for (std::size_t i = 1; i < args.size() && i <= 2; ++i) {
    const std::string& candidate = args[i];
    if (candidate.empty()) {
      continue;
    }
    std::string path = candidate.front() == '/' ? candidate : processFolder + "/cwd/" + candidate;
    std::string head = ReadStart(path, 256, true);
    if (!head.starts_with("#!")) {
      continue;
    }
    head = head.substr(0, head.find('\n'));
    if (head.find(interpreter) == std::string::npos ||
        (i == 2 && head.find(args[1]) == std::string::npos)) {
      continue;
    }
    return {std::move(path), LastComponent(candidate)};
  }
  return {};
}

// For a program that the kernel started through a binfmt_misc interpreter (another processor's
// program under qemu-user), the kernel runs the interpreter with the program's path as the first
// argument. The candidate counts when the running executable is the interpreter of a format the
// file has: a process that merely has such a file as an argument keeps its own name.
Script FindEmulatedProgram(const std::string& processFolder, const std::string& executable,
                           const std::vector<std::string>& args,
                           const std::vector<BinaryFormat>& formats) {
  if (args.size() < 2 || args[1].empty()) {
    return {};
  }
  const std::string& candidate = args[1];
  std::string path = candidate.front() == '/' ? candidate : processFolder + "/cwd/" + candidate;
  for (const BinaryFormat& format : formats) {
    if (format.interpreter == executable && IsOfFormat(format, path)) {
      return {std::move(path), LastComponent(candidate)};
    }
  }
  return {};
}

// The executable's path, canonical as the kernel keeps it; empty when it cannot be read
// (kernel threads, ended processes, another user's).
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

// Fills process when the process in processFolder runs from a file inside root.
bool Describe(const std::string& processFolder, const std::string& root,
              const std::vector<BinaryFormat>& formats, DeviceProcess& process) {
  const std::string executable = ExecutablePath(processFolder);
  if (executable.empty()) {
    return false;
  }
  struct stat file {};
  const std::vector<std::string> args = LeadingArguments(processFolder);
  Script script = FindScript(processFolder, args);
  if (script.path.empty()) {
    script = FindEmulatedProgram(processFolder, executable, args, formats);
  }
  if (!script.path.empty()) {
    process.programFile = Canonical(script.path);
    if (process.programFile.empty() || stat(process.programFile.c_str(), &file) != 0) {
      return false;
    }
    process.name = script.name;
  } else {
    // The link leads to the running file itself, even after it was renamed or deleted. Opened,
    // not merely looked at: an emulator (qemu-user) shows a program the file it runs when it
    // opens its own link, but a stat of the link would see the emulator's file.
    const int opened = open((processFolder + "/exe").c_str(), O_PATH | O_CLOEXEC);
    const bool known = opened >= 0 && fstat(opened, &file) == 0;
    if (opened >= 0) {
      close(opened);
    }
    if (!known) {
      return false;
    }
    process.programFile = executable;
    process.name = LastComponent(executable);
  }
  process.fileDevice = file.st_dev;
  process.fileInode = file.st_ino;
  return Inside(root, process.programFile);
}

}  // namespace

bool ForEachDeviceProcess(const std::function<bool(const DeviceProcess&)>& visit) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return false;
  }
  // A root that does not exist holds no program files, so no process belongs to it.
  const std::string root = Canonical(DeviceRoot());
  const std::vector<BinaryFormat> formats = ReadBinaryFormats("/proc/sys/fs/binfmt_misc");
  while (const dirent* entry = root.empty() ? nullptr : readdir(proc)) {
    DeviceProcess process{};
    if (!ParseProcessId(entry->d_name, process.processId)) {
      continue;
    }
    if (Describe(std::string("/proc/") + entry->d_name, root, formats, process) &&
        !visit(process)) {
      break;
    }
  }
  closedir(proc);
  return true;
}

bool IsRunningProgramFile(const std::string& hostPath) {
  struct stat target {};
  if (lstat(hostPath.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) {
    return false;
  }
  bool running = false;
  ForEachDeviceProcess([&](const DeviceProcess& process) {
    running = process.fileDevice == target.st_dev && process.fileInode == target.st_ino;
    return !running;
  });
  return running;
}

}  // namespace platform
