// Taking the device lock: at once when it is free, else after telling the caller that it waits.
#include "platform/device_lock.h"

namespace platform {
namespace {

class WaitingDeviceLock final : public DeviceLockService {
 public:
  std::unique_ptr<HeldDeviceLock> Take(const std::function<void()>& waiting) override {
    bool heldElsewhere = false;
    std::unique_ptr<HeldDeviceLock> lock = LockDevice(false, heldElsewhere);
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
