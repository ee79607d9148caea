#include "tests/support/utf8_text.h"

#include "platform/linux/utf8.h"

namespace testing_support {

std::string ToUtf8(std::wstring_view text) {
  return platform::ToUtf8(text);
}

std::wstring FromUtf8(std::string_view text) {
  return platform::FromUtf8(text);
}

}  // namespace testing_support
