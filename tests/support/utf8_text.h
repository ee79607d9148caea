// UTF-8 for test messages and host file names, the same on every host: on Windows wide text is
// UTF-16, elsewhere UTF-32.
#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// Text that UTF-8 cannot carry (a lone surrogate, a value above U+10FFFF) becomes '?'.
std::string ToUtf8(std::wstring_view text);
// Each malformed sequence becomes U+FFFD.
std::wstring FromUtf8(std::string_view text);

}  // namespace testing_support
