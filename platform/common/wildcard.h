// The device's file searches as the hosts carry them out: a search pattern's folder and name
// parts, and wildcard matching with the host's way of comparing two characters, for a host whose
// file names do not tell case apart.
#pragma once

#include <string_view>

namespace platform {

struct SearchPattern {
  std::wstring_view folder;  // with its trailing separator; empty for the root
  std::wstring_view name;    // the pattern's last component
};

// "folder\pattern" (or "folder/pattern") taken apart; a null pattern is an empty one.
SearchPattern SplitSearchPattern(const wchar_t* pattern);

using SameCharacter = bool (*)(wchar_t a, wchar_t b);

// MatchesWildcard (platform/files.h) with same deciding which characters are equal.
bool MatchesWildcard(const wchar_t* pattern, const wchar_t* name, SameCharacter same);

}  // namespace platform
