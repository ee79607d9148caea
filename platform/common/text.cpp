// The bounded copies of platform/text.h that do not depend on the host.
#include "platform/text.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "platform/host.h"

namespace platform {

bool CopyText(std::span<wchar_t> out, const wchar_t* text) {
  const std::size_t length = text != nullptr ? std::wcslen(text) : 0;
  if (length >= out.size()) {
    if (!out.empty()) {
      out[0] = L'\0';
    }
    return false;
  }
  std::copy_n(text != nullptr ? text : L"", length + 1, out.begin());
  return true;
}

bool AppendText(std::span<wchar_t> out, const wchar_t* text) {
  auto end = std::find(out.begin(), out.end(), L'\0');
  if (end == out.end()) {
    return false;
  }
  // What fits is kept: a name too long for a message is cut rather than lost.
  for (; text != nullptr && *text != L'\0'; ++text) {
    if (end + 1 == out.end()) {
      return false;
    }
    *end++ = *text;
  }
  *end = L'\0';
  return true;
}

bool WideToUtf8(std::span<char> out, const wchar_t* text) {
  if (out.empty()) {
    return false;
  }
  const std::string utf8 = text != nullptr ? WideToUtf8(std::wstring_view(text)) : std::string();
  if (utf8.size() >= out.size()) {
    out[0] = '\0';
    return false;
  }
  utf8.copy(out.data(), utf8.size());
  out[utf8.size()] = '\0';
  return true;
}

}  // namespace platform
