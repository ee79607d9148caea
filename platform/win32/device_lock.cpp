// Placeholder until the Win32 implementation lands.
#include "platform/device_lock.h"

namespace platform {
namespace {

class Pending final : public DeviceLockService {
 public:
  std::unique_ptr<HeldDeviceLock> Take(const std::function<void()>&) override { return nullptr; }
};

}  // namespace

template <>
DeviceLockService& HostService<DeviceLockService>() {
  static Pending service;
  return service;
}

}  // namespace platform
