#include <string>

#include "platform/common/shortcut_text.h"
#include "platform/shell.h"
#include "platform/win32/small_files.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"

namespace platform {
namespace {

// Desktop Windows has no SHCreateShortcut of the device's kind: the shortcut is the device's
// text form written as a file.
class Win32Shell final : public ShellService {
 public:
  bool CreateShortcut(const wchar_t* shortcut, const wchar_t* target) override {
    if (shortcut == nullptr || target == nullptr) {
      return false;
    }
    const std::wstring path = WideHostPath(shortcut);
    // A file there under the name in other letter case is the same file, and replacing it would
    // keep its name; the shortcut must carry the one asked for, which the Start menu's clean-up
    // compares exactly. So that file goes first: a rename to the same name in other case is not
    // one everywhere (Wine keeps the old name).
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      const std::size_t split = path.find_last_of(L"\\/");
      const std::wstring name = split == std::wstring::npos ? path : path.substr(split + 1);
      if (name != found.cFileName) {
        DeleteFileW(path.c_str());
      }
    }
    return ReplaceFileContent(path, ShortcutText(target));
  }
};

}  // namespace

template <>
ShellService& HostService<ShellService>() {
  static Win32Shell service;
  return service;
}

}  // namespace platform
