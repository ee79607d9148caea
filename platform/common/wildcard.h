// The device's wildcard matching with the host's way of comparing two characters, for a host
// whose file names do not tell case apart.
#pragma once

namespace platform {

using SameCharacter = bool (*)(wchar_t a, wchar_t b);

// MatchesWildcard (platform/files.h) with same deciding which characters are equal.
bool MatchesWildcard(const wchar_t* pattern, const wchar_t* name, SameCharacter same);

}  // namespace platform
