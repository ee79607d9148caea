// The loader's narrow text is the ANSI code page on this host, as on the device.
#include <climits>
#include <string>
#include <string_view>

#include "platform/common/narrow_text.h"
#include "platform/text.h"

namespace platform {
namespace {

int Capacity(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

bool WideToNarrow(std::span<char> out, const wchar_t* text) {
  if (out.empty()) {
    return false;
  }
  // A system whose ANSI code page is UTF-8 refuses a default character (and needs none: every
  // character has a UTF-8 form).
  const bool utf8 = GetACP() == CP_UTF8;
  const int written =
      text == nullptr ? 0
                      : WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), Capacity(out.size()),
                                            utf8 ? nullptr : "?", nullptr);
  // On ERROR_INSUFFICIENT_BUFFER the call may have filled the buffer with a cut text.
  if (written <= 0) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool NarrowToWide(std::span<wchar_t> out, const char* text) {
  if (out.empty()) {
    return false;
  }
  const int written =
      text == nullptr ? 0
                      : MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), Capacity(out.size()));
  if (written <= 0) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

std::wstring WidenNarrowText(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = Capacity(text.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), needed);
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}

}  // namespace platform
