// One loader at a time changes a device: an exclusive lock on the device, held for a run of the
// loading sequence. A second loader started on the same device waits for it.
#pragma once

#include <functional>
#include <memory>

#include "platform/service.h"

namespace platform {

// A lock that is held for as long as this object lives.
class HeldDeviceLock {
 public:
  virtual ~HeldDeviceLock() = default;
};

// How long a loader started by the lock's holder waits for that loader's end before it says that
// it waits: longer than any bounded wait of a loader as it ends (the Windows entry gives its
// threads up to 5 s).
inline constexpr unsigned kStartingLoaderEndMilliseconds = 15000;

class DeviceLockService {
 public:
  virtual ~DeviceLockService() = default;
  // Takes the device's lock, waiting for as long as another loader holds it; calls waiting
  // once, before it starts to wait. A loader started by the lock's holder (the newest loader,
  // which its predecessor starts while it keeps the lock to its end) first waits for that
  // loader's end quietly, for at most kStartingLoaderEndMilliseconds. Null when no lock can be
  // had (no device root, a file system without locks): the caller goes on without one.
  virtual std::unique_ptr<HeldDeviceLock> Take(const std::function<void()>& waiting) = 0;
};

inline DeviceLockService& DeviceLock() {
  return Use<DeviceLockService>();
}

}  // namespace platform
