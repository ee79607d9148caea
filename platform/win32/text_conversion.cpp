// The loader's narrow text is the ANSI code page on this host, as on the device.
#include <string>
#include <string_view>

#include "platform/common/narrow_text.h"
#include "platform/text.h"
#include "platform/win32/wide_text.h"

namespace platform {

bool WideToNarrow(std::span<char> out, const wchar_t* text) {
  if (out.empty()) {
    return false;
  }
  // Precomposed where the code page has the character, and the system's own default character
  // where it has none. A system whose ANSI code page is UTF-8 takes neither flag (every
  // character has a UTF-8 form).
  const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_COMPOSITECHECK;
  const int written = text == nullptr
                          ? 0
                          : WideCharToMultiByte(CP_ACP, flags, text, -1, out.data(),
                                                Win32Length(out.size()), nullptr, nullptr);
  // On ERROR_INSUFFICIENT_BUFFER the call may have filled the buffer with a cut text.
  if (written <= 0) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool WideToUtf8(std::span<char> out, const wchar_t* text) {
  if (out.empty()) {
    return false;
  }
  const std::string utf8 = text != nullptr ? platform::WideToUtf8(std::wstring_view(text)) : "";
  if (utf8.size() >= out.size()) {
    out[0] = '\0';
    return false;
  }
  utf8.copy(out.data(), utf8.size());
  out[utf8.size()] = '\0';
  return true;
}

bool NarrowToWide(std::span<wchar_t> out, const char* text) {
  if (out.empty()) {
    return false;
  }
  const int written = text == nullptr ? 0
                                      : MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(),
                                                            Win32Length(out.size()));
  if (written <= 0) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

std::wstring WidenNarrowText(std::string_view text) {
  return WidenFromCodePage(CP_ACP, text);
}

}  // namespace platform
