#include "tests/support/utf8_text.h"

#include "platform/host.h"

namespace testing_support {

std::string ToUtf8(std::wstring_view text) {
  return platform::WideToUtf8(text);
}

std::wstring FromUtf8(std::string_view text) {
  return platform::Utf8ToWide(text);
}

}  // namespace testing_support
