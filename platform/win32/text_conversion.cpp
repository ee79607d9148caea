// Placeholder until the Win32 implementation lands.
#include <string>
#include <string_view>

#include "platform/common/narrow_text.h"
#include "platform/text.h"

namespace platform {

bool WideToNarrow(std::span<char> out, const wchar_t*) {
  if (!out.empty())
    out[0] = '\0';
  return false;
}

bool NarrowToWide(std::span<wchar_t> out, const char*) {
  if (!out.empty())
    out[0] = L'\0';
  return false;
}

std::wstring WidenNarrowText(std::string_view) {
  return {};
}

}  // namespace platform
