#include "settings/download_url.h"

#include <cwchar>
#include <span>

#include "platform/text.h"

bool MatchesPrefix(const wchar_t* text, const wchar_t* lower, const wchar_t* upper,
                   std::size_t count) {
  if (text == nullptr) {
    return count == 0;
  }
  // A shorter text stops at its terminator, which matches neither form, so this never reads
  // past the end of text.
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] != lower[i] && text[i] != upper[i]) {
      return false;
    }
  }
  return true;
}

bool HasHttpPrefix(const wchar_t* address) {
  return MatchesPrefix(address, L"http://", L"HTTP://", 7);
}

bool HasHttpsPrefix(const wchar_t* address) {
  return MatchesPrefix(address, L"https://", L"HTTPS://", 8);
}

bool BuildDownloadUrl(LoaderContext* context, wchar_t* url, const wchar_t* fileName) {
  std::span<wchar_t> out(url, MAX_PATH);
  out[0] = L'\0';
  wchar_t* address = context->serverAddress;
  std::size_t length = 0;
  while (length < MAX_PATH && address[length] != L'\0') {
    ++length;
  }
  // An empty address has no last character to look at; one without a terminator or without
  // room for the "/" cannot take it.
  if (length == 0 || length == MAX_PATH) {
    return false;
  }
  if (address[length - 1] != L'/') {
    if (length + 1 >= MAX_PATH) {
      return false;
    }
    address[length] = L'/';
    address[length + 1] = L'\0';
  }
  const wchar_t* format = HasHttpPrefix(address) || HasHttpsPrefix(address)
                              ? context->downloadUrlFormatWithScheme
                              : context->downloadUrlFormat;
  if (!platform::FormatText(out, format, address, fileName)) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

bool ReplaceFirstOccurrence(wchar_t* out, const wchar_t* source, const wchar_t* marker,
                            const wchar_t* replacement) {
  const wchar_t* found = std::wcsstr(source, marker);
  if (found == nullptr) {
    return false;
  }
  // Built aside first: out may be source itself, and a result that does not fit leaves out as
  // it was.
  wchar_t result[MAX_PATH];
  std::size_t used = 0;
  auto append = [&](const wchar_t* from, std::size_t count) {
    if (count >= MAX_PATH - used) {
      return false;
    }
    std::wmemcpy(result + used, from, count);
    used += count;
    return true;
  };
  const wchar_t* rest = found + std::wcslen(marker);
  if (!append(source, static_cast<std::size_t>(found - source)) ||
      !append(replacement, std::wcslen(replacement)) || !append(rest, std::wcslen(rest))) {
    return false;
  }
  result[used] = L'\0';
  std::wmemcpy(out, result, used + 1);
  return true;
}
