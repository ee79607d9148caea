#include "platform/common/download_limits.h"

#include <cstdlib>

namespace platform {

long StallSeconds() {
  constexpr long kDefault = 60;
  const char* text = std::getenv("FERROVAN_DOWNLOAD_STALL_SECONDS");
  if (text == nullptr || *text == '\0') {
    return kDefault;
  }
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 ? value : kDefault;
}

}  // namespace platform
