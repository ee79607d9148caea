#include "platform/win32/wide_text.h"

#include <climits>

#include "platform/device_root.h"
#include "platform/windows_types.h"

namespace platform {
namespace {

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

}  // namespace

// The Win32 conversions count in int; a longer text than that is no text of this program.
int Win32Length(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// Invalid sequences become U+FFFD (no MB_ERR_INVALID_CHARS), as the narrow text of the Linux
// host does.
std::wstring WidenFromCodePage(unsigned codePage, std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = Win32Length(text.size());
  const int needed = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), needed);
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}

std::wstring WideHostPath(std::wstring_view devicePath) {
  const bool drive =
      devicePath.size() >= 2 && IsDriveLetter(devicePath[0]) && devicePath[1] == L':';
  const bool unc = devicePath.starts_with(L"\\\\");
  if (drive || unc) {
    return std::wstring(devicePath);
  }
  return Utf8ToWide(ToHostPath(devicePath));
}

}  // namespace platform
