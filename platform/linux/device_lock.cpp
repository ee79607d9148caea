// The device lock is flock(2) on the device root folder itself, so that the device holds no
// lock file of its own. The kernel lets it go when the holder ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/device_lock.h"
#include "platform/device_root.h"
#include "platform/linux/descriptors.h"

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

}  // namespace

std::unique_ptr<HeldDeviceLock> LockDevice(bool wait, bool& heldElsewhere) {
  heldElsewhere = false;
  // Each run opens the folder anew: flock belongs to the open file, so a second run in this
  // process waits for the first like any other loader would. O_CLOEXEC keeps the programs the
  // loader starts from holding the lock on.
  const int fd = open(DeviceRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  if (RetryOnInterrupt([&] { return flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)); }) != 0) {
    heldElsewhere = errno == EWOULDBLOCK;
    close(fd);
    return nullptr;
  }
  return std::make_unique<FolderLock>(fd);
}

}  // namespace platform
