// The URL moniker has no time-outs of its own: a server that takes the connection and never
// answers, or sends a trickle, holds a download for ever. The watchdog aborts a binding that
// shows no sign of life, or whose body comes slower than the rate floor over a whole window, as
// the Linux host's downloads do (platform/common/download_limits.h).
#pragma once

#include <cstdint>

#include "platform/win32/bind_status_bridge.h"
#include "platform/windows_types.h"

namespace platform {

class DownloadWatchdog {
 public:
  // Watches bridge, which must outlive this, from a thread-pool timer.
  explicit DownloadWatchdog(BindStatusBridge& bridge);
  // Stops the timer and waits for a check that is running.
  ~DownloadWatchdog();
  DownloadWatchdog(const DownloadWatchdog&) = delete;
  DownloadWatchdog& operator=(const DownloadWatchdog&) = delete;

 private:
  static void CALLBACK Check(PTP_CALLBACK_INSTANCE, void* watchdog, PTP_TIMER);

  BindStatusBridge& bridge_;
  const ULONGLONG started_;
  const ULONGLONG connectLimit_;
  const ULONGLONG stallLimit_;
  // The window in which the body's rate is measured: when it began, and the bytes by then. Only
  // the timer's callbacks, one at a time, use them.
  ULONGLONG windowStart_ = 0;
  std::uint64_t windowReceived_ = 0;
  PTP_TIMER timer_ = nullptr;
};

}  // namespace platform
