// Windows' FILETIME: 100-nanosecond intervals since 1601-01-01T00:00:00Z, in two 32-bit halves.
// The Win32 clock reads the time of day as one; the conversion is plain arithmetic, built and
// tested on every host.
#pragma once

#include <cstdint>

namespace platform {

// FILETIME counts this many intervals before 1970-01-01T00:00:00Z.
inline constexpr std::int64_t kFileTimeIntervalsBefore1970 = 116444736000000000LL;
inline constexpr std::int64_t kFileTimeIntervalsPerSecond = 10000000LL;

// Seconds since 1970-01-01T00:00:00Z of the FILETIME high:low, 64-bit throughout so that dates
// past 2038 hold where long or time_t has 32 bits.
inline std::int64_t SecondsSinceEpochOfFileTime(std::uint32_t high, std::uint32_t low) {
  const auto intervals = static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  return (intervals - kFileTimeIntervalsBefore1970) / kFileTimeIntervalsPerSecond;
}

}  // namespace platform
