#include <cwchar>
#include <string>

#include "platform/shell.h"
#include "platform/win32/stored_files.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// Desktop Windows has no SHCreateShortcut of the device's kind: the shortcut is the device's
// text form written as a file, the target's length in characters, "#", the target, in UTF-8.
class Win32Shell final : public ShellService {
 public:
  bool CreateShortcut(const wchar_t* shortcut, const wchar_t* target) override {
    if (shortcut == nullptr || target == nullptr) {
      return false;
    }
    const std::string content = std::to_string(std::wcslen(target)) + "#" + WideToUtf8(target);
    return ReplaceFileContent(WideHostPath(shortcut), content);
  }
};

}  // namespace

template <>
ShellService& HostService<ShellService>() {
  static Win32Shell service;
  return service;
}

}  // namespace platform
