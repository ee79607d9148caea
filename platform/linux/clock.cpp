#include <time.h>

#include <cstdint>

#include "platform/clock.h"

namespace platform {
namespace {

class RealTimeClock final : public ClockService {
 public:
  bool SecondsSinceEpoch(std::int64_t& seconds) override {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
      return false;
    }
    seconds = static_cast<std::int64_t>(now.tv_sec);
    return true;
  }
};

}  // namespace

template <>
ClockService& HostService<ClockService>() {
  static RealTimeClock service;
  return service;
}

}  // namespace platform
