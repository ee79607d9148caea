#include <cwchar>
#include <string>

#include "platform/device_root.h"
#include "platform/shell.h"
#include "platform/stored_files_linux.h"
#include "platform/utf8.h"

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
ShellService& LinuxService<ShellService>() {
  static LinuxShell service;
  return service;
}

}  // namespace platform
