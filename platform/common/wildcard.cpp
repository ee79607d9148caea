#include <string>
#include <string_view>

#include "platform/common/wildcard.h"
#include "platform/files.h"

namespace platform {
namespace {

bool SameExactly(wchar_t a, wchar_t b) {
  return a == b;
}

// * and ? over whole names, * matching any run of characters (the empty one too).
bool MatchesGlob(const wchar_t* pattern, const wchar_t* name, SameCharacter same) {
  const wchar_t* star = nullptr;
  const wchar_t* retry = nullptr;
  while (*name != L'\0') {
    if (*pattern == L'?' || (*pattern != L'*' && same(*pattern, *name))) {
      ++pattern;
      ++name;
    } else if (*pattern == L'*') {
      star = pattern++;
      retry = name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++retry;
    } else {
      return false;
    }
  }
  while (*pattern == L'*') {
    ++pattern;
  }
  return *pattern == L'\0';
}

}  // namespace

bool MatchesWildcard(const wchar_t* pattern, const wchar_t* name) {
  return MatchesWildcard(pattern, name, &SameExactly);
}

bool MatchesWildcard(const wchar_t* pattern, const wchar_t* name, SameCharacter same) {
  if (pattern == nullptr || name == nullptr) {
    return false;
  }
  if (MatchesGlob(pattern, name, same)) {
    return true;
  }
  // As on the device, a trailing ".*" also matches names without that dot: "*.*" matches
  // "README", "Setup.*" matches "Setup".
  const std::wstring_view whole = pattern;
  if (whole.size() >= 2 && whole.ends_with(L".*")) {
    const std::wstring stem(whole.substr(0, whole.size() - 2));
    return MatchesGlob(stem.c_str(), name, same);
  }
  return false;
}

SearchPattern SplitSearchPattern(const wchar_t* pattern) {
  const std::wstring_view whole = pattern != nullptr ? pattern : L"";
  const std::size_t split = whole.find_last_of(L"\\/");
  if (split == std::wstring_view::npos) {
    return {std::wstring_view(), whole};
  }
  return {whole.substr(0, split + 1), whole.substr(split + 1)};
}

}  // namespace platform
