#include <cwchar>
#include <string>

#include "platform/device_root.h"
#include "platform/linux/stored_files.h"
#include "platform/linux/utf8.h"
#include "platform/shell.h"

namespace platform {
namespace {

class LinuxShell final : public ShellService {
 public:
  // The device's text form of a shortcut: the target's length in characters, "#", the target.
  bool CreateShortcut(const wchar_t* shortcut, const wchar_t* target) override {
    if (shortcut == nullptr || target == nullptr) {
      return false;
    }
    const std::string content = std::to_string(std::wcslen(target)) + "#" + ToUtf8(target);
    return ReplaceFileContent(ToHostPath(shortcut), content);
  }
};

}  // namespace

template <>
ShellService& HostService<ShellService>() {
  static LinuxShell service;
  return service;
}

}  // namespace platform
