#include <windows.h>

#include <cstdint>

#include "platform/clock.h"

namespace platform {
namespace {

// FILETIME counts 100-nanosecond intervals from 1601-01-01; this many of them lie before 1970.
constexpr std::int64_t kIntervalsBefore1970 = 116444736000000000LL;
constexpr std::int64_t kIntervalsPerSecond = 10000000LL;

class SystemClock final : public ClockService {
 public:
  bool SecondsSinceEpoch(std::int64_t& seconds) override {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::int64_t intervals = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    seconds = (intervals - kIntervalsBefore1970) / kIntervalsPerSecond;
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
