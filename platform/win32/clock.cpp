#include <windows.h>

#include <cstdint>

#include "platform/clock.h"
#include "platform/common/file_time.h"

namespace platform {
namespace {

class SystemClock final : public ClockService {
 public:
  bool SecondsSinceEpoch(std::int64_t& seconds) override {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    seconds = SecondsSinceEpochOfFileTime(now.dwHighDateTime, now.dwLowDateTime);
    return true;
  }
};

}  // namespace

template <>
ClockService& HostService<ClockService>() {
  static SystemClock service;
  return service;
}

}  // namespace platform
