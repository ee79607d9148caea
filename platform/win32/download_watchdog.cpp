#include "platform/win32/download_watchdog.h"

#include "platform/common/download_limits.h"

namespace platform {
namespace {

constexpr DWORD kCheckMilliseconds = 250;

ULONGLONG Milliseconds(long seconds) {
  return static_cast<ULONGLONG>(seconds) * 1000;
}

}  // namespace

DownloadWatchdog::DownloadWatchdog(BindStatusBridge& bridge)
    : bridge_(bridge),
      started_(GetTickCount64()),
      connectLimit_(Milliseconds(kConnectSeconds)),
      stallLimit_(Milliseconds(StallSeconds())) {
  timer_ = CreateThreadpoolTimer(&DownloadWatchdog::Check, this, nullptr);
  if (timer_ != nullptr) {
    // A negative due time is relative, in units of 100 ns.
    ULARGE_INTEGER due;
    due.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(kCheckMilliseconds) * 10000);
    FILETIME dueTime;
    dueTime.dwLowDateTime = due.LowPart;
    dueTime.dwHighDateTime = due.HighPart;
    SetThreadpoolTimer(timer_, &dueTime, kCheckMilliseconds, 0);
  }
}

DownloadWatchdog::~DownloadWatchdog() {
  if (timer_ != nullptr) {
    SetThreadpoolTimer(timer_, nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(timer_, TRUE);
    CloseThreadpoolTimer(timer_);
  }
}

void CALLBACK DownloadWatchdog::Check(PTP_CALLBACK_INSTANCE, void* context, PTP_TIMER) {
  auto* watchdog = static_cast<DownloadWatchdog*>(context);
  BindStatusBridge& bridge = watchdog->bridge_;
  if (bridge.Aborted()) {
    return;
  }
  const ULONGLONG now = GetTickCount64();
  // Until the server has taken the connection, the connection's own limit counts from the
  // start; from then on, the time since the last sign of life.
  const bool expired = bridge.Connected() ? now - bridge.LastActivity() >= watchdog->stallLimit_
                                          : now - watchdog->started_ >= watchdog->connectLimit_;
  if (expired) {
    bridge.Abort();
    return;
  }
  if (!bridge.Connected()) {
    return;
  }
  const std::uint64_t received = bridge.Received();
  if (watchdog->windowStart_ == 0) {
    watchdog->windowStart_ = now;
    watchdog->windowReceived_ = received;
    return;
  }
  // Whole windows, one after the other: each must bring at least the floor's worth.
  if (now - watchdog->windowStart_ >= watchdog->stallLimit_) {
    const std::uint64_t floor =
        static_cast<std::uint64_t>(kRateFloorBytesPerSecond) * (watchdog->stallLimit_ / 1000);
    if (received - watchdog->windowReceived_ < floor) {
      bridge.Abort();
      return;
    }
    watchdog->windowStart_ = now;
    watchdog->windowReceived_ = received;
  }
}

}  // namespace platform
