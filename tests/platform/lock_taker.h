// A second taker of the device lock, on its own thread, for the lock's tests on every host.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "platform/device_lock.h"

namespace platform_testing {

// Takes the lock on its own thread, recording whether it had to wait.
class Taker {
 public:
  Taker()
      : thread_([this] {
          lock_ = platform::DeviceLock().Take([this] { waiting_ = true; });
          taken_ = lock_ != nullptr;
        }) {}
  ~Taker() { thread_.join(); }
  Taker(const Taker&) = delete;
  Taker& operator=(const Taker&) = delete;
  bool waiting() const { return waiting_; }
  bool taken() const { return taken_; }

 private:
  std::unique_ptr<platform::HeldDeviceLock> lock_;
  std::atomic<bool> waiting_{false};
  std::atomic<bool> taken_{false};
  std::thread thread_;
};

}  // namespace platform_testing
