// The device's clock (GetSystemTime): the time of day in UTC, as the device believes it.
#pragma once

#include <cstdint>

#include "platform/service.h"

namespace platform {

class ClockService {
 public:
  virtual ~ClockService() = default;
  // Seconds since 1970-01-01T00:00:00Z, 64 bits wide on every host; false when the clock cannot
  // be read.
  virtual bool SecondsSinceEpoch(std::int64_t& seconds) = 0;
};

inline ClockService& Clock() {
  return Use<ClockService>();
}

}  // namespace platform
