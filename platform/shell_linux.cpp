#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "platform/device_root.h"
#include "platform/shell.h"
#include "platform/utf8.h"

namespace platform {
namespace {

bool WriteAll(int fd, const std::string& content) {
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t done = write(fd, content.data() + written, content.size() - written);
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      return false;
    }
    written += static_cast<std::size_t>(done);
  }
  return true;
}

class LinuxShell final : public ShellService {
 public:
  // The device's text form of a shortcut: the target's length in characters, "#", the target.
  bool CreateShortcut(const wchar_t* shortcut, const wchar_t* target) override {
    if (shortcut == nullptr || target == nullptr) {
      return false;
    }
    const std::string content = std::to_string(std::wcslen(target)) + "#" + ToUtf8(target);
    const int fd =
        open(ToHostPath(shortcut).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      return false;
    }
    const bool written = WriteAll(fd, content);
    return close(fd) == 0 && written;
  }
};

}  // namespace

template <>
ShellService& LinuxService<ShellService>() {
  static LinuxShell service;
  return service;
}

}  // namespace platform
