// Taking the device lock: at once when it is free, else after telling the caller that it waits.
#include "platform/device_lock.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {

constexpr std::chrono::milliseconds kRetryInterval(20);

class WaitingDeviceLock final : public DeviceLockService {
 public:
  std::unique_ptr<HeldDeviceLock> Take(const std::function<void()>& waiting) override {
    bool heldElsewhere = false;
    std::unique_ptr<HeldDeviceLock> lock = LockDevice(false, heldElsewhere);
    // The loader that started this one keeps the lock until its process has ended, which it is
    // about to: no reason to tell the user of a wait.
    if (lock == nullptr && heldElsewhere && DeviceLockHeldByParent()) {
      const auto deadline = std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(kStartingLoaderEndMilliseconds);
      while (lock == nullptr && heldElsewhere && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kRetryInterval);
        lock = LockDevice(false, heldElsewhere);
      }
    }
    if (lock == nullptr && heldElsewhere) {
      if (waiting) {
        waiting();
      }
      lock = LockDevice(true, heldElsewhere);
    }
    return lock;
  }
};

}  // namespace

template <>
DeviceLockService& HostService<DeviceLockService>() {
  static WaitingDeviceLock service;
  return service;
}

}  // namespace platform
