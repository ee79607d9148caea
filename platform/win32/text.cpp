// The loader's narrow text is the ANSI code page on this host, as on the device.
#include <string>
#include <string_view>

#include "platform/host.h"
#include "platform/text.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

bool IsHighSurrogate(wchar_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

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

std::wstring Utf8ToWide(std::string_view text) {
  return WidenFromCodePage(CP_UTF8, text);
}

// A lone surrogate becomes '?', as on the Linux host (the system would put U+FFFD there).
std::string WideToUtf8(std::wstring_view original) {
  if (original.empty()) {
    return {};
  }
  std::wstring text(original);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      text[i] = L'?';
    }
  }
  const int size = Win32Length(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), needed, nullptr, nullptr);
  narrow.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return narrow;
}

}  // namespace platform
