#include <time.h>

#include <cstdint>

#include "platform/clock.h"

// The device's clock must read past 2038 on a 32-bit processor too: this file alone is built with a
// 64-bit time_t (it hands no time_t to a library).
static_assert(sizeof(timespec::tv_sec) >= 8, "the clock would stop in 2038");

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
