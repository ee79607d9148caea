// The device lock is flock(2) on the device root folder itself, so that the device holds no
// lock file of its own. The kernel lets it go when the holder ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/device_lock.h"
#include "platform/device_root.h"
#include "platform/linux/download_cache.h"

namespace platform {
namespace {

class FolderLock final : public HeldDeviceLock {
 public:
  explicit FolderLock(int fd) : fd_(fd) {}
  ~FolderLock() override { close(fd_); }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

bool Lock(int fd, int operation) {
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

class LinuxDeviceLock final : public DeviceLockService {
 public:
  std::unique_ptr<HeldDeviceLock> Take(const std::function<void()>& waiting) override {
    // Each run opens the folder anew: flock belongs to the open file, so a second run in this
    // process waits for the first like any other loader would. O_CLOEXEC keeps the programs
    // the loader starts from holding the lock on.
    const int fd = open(DeviceRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      return nullptr;
    }
    if (!Lock(fd, LOCK_EX | LOCK_NB)) {
      const bool held = errno == EWOULDBLOCK;
      if (held && waiting) {
        waiting();
      }
      if (!held || !Lock(fd, LOCK_EX)) {
        close(fd);
        return nullptr;
      }
    }
    // Downloads happen under the lock, so this is the moment when no loader on the device is
    // starting one: copies found now were left by a loader that was killed.
    RemoveAbandonedCacheFiles();
    return std::make_unique<FolderLock>(fd);
  }
};

}  // namespace

template <>
DeviceLockService& HostService<DeviceLockService>() {
  static LinuxDeviceLock service;
  return service;
}

}  // namespace platform
