#include "platform/common/shortcut_text.h"

#include <cwchar>

#include "platform/host.h"

namespace platform {

std::string ShortcutText(const wchar_t* target) {
  return std::to_string(std::wcslen(target)) + "#" + WideToUtf8(target);
}

}  // namespace platform
