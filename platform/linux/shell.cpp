#include "platform/shell.h"
#include "platform/common/shortcut_text.h"
#include "platform/device_root.h"

namespace platform {
namespace {

class LinuxShell final : public ShellService {
 public:
  bool CreateShortcut(const wchar_t* shortcut, const wchar_t* target) override {
    if (shortcut == nullptr || target == nullptr) {
      return false;
    }
    return ReplaceFileContent(ToHostPath(shortcut), ShortcutText(target));
  }
};

}  // namespace

template <>
ShellService& HostService<ShellService>() {
  static LinuxShell service;
  return service;
}

}  // namespace platform
