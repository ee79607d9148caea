// Windows' wide text is UTF-16: the system's own conversion, with a lone surrogate turned into
// '?' first, as the Linux side does, instead of the U+FFFD that Windows would put there.
#include "tests/support/utf8_text.h"

#include <windows.h>

namespace testing_support {
namespace {

bool IsHigh(wchar_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(wchar_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  std::wstring paired(text);
  for (std::size_t i = 0; i < paired.size(); ++i) {
    if (IsHigh(paired[i]) && i + 1 < paired.size() && IsLow(paired[i + 1])) {
      ++i;
    } else if (IsHigh(paired[i]) || IsLow(paired[i])) {
      paired[i] = L'?';
    }
  }
  if (paired.empty()) {
    return {};
  }
  const int length = static_cast<int>(paired.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, paired.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, paired.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), size);
  return out;
}

}  // namespace testing_support
