// UTF-8 conversion for the Linux implementations inside platform/, where the length of a text is
// not bounded by a loader buffer (host paths, file contents, names read from /proc).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Code points that UTF-8 cannot carry (surrogates, values above U+10FFFF) become '?'.
std::string ToUtf8(std::wstring_view text);
// Each malformed sequence becomes U+FFFD.
std::wstring FromUtf8(std::string_view text);

}  // namespace platform
