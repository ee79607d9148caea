// The device lock is flock(2) on a lock file in the device root that only the device's owner can
// open (mode 0600), so that no other user of the host can take it and hold up every start; the
// root folder itself would do for a root that others can read. The kernel lets it go when the
// holder ends, however it ends. The file stays: deleting it would let two loaders lock two
// different files.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/device_lock.h"
#include "platform/device_root.h"
#include "platform/host.h"
#include "platform/linux/descriptors.h"

namespace platform {
namespace {

constexpr char kLockFile[] = "/.ferrovan-device.lock";
// The holder's process id, in a field of fixed width that each holder overwrites whole.
constexpr std::size_t kHolderFieldSize = 12;

class FileLock final : public HeldDeviceLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {}
  ~FileLock() override { close(fd_); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// The lock file, opened; -1 when it is not a regular file of this user's (a link, a pipe or
// another user's file planted in a root that others may write to is never locked).
int OpenLockFile() {
  // O_NOFOLLOW: never a file elsewhere; O_NONBLOCK: a pipe planted there does not hold up the
  // open; O_CLOEXEC keeps the programs the loader starts from holding the lock on.
  const int fd = RetryOnInterrupt([] {
    return open((DeviceRoot() + kLockFile).c_str(),
                O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  });
  if (fd < 0) {
    return -1;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid() ||
      ((status.st_mode & 077) != 0 && fchmod(fd, 0600) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<HeldDeviceLock> LockDevice(bool wait, bool& heldElsewhere) {
  heldElsewhere = false;
  // Each run opens the file anew: flock belongs to the open file, so a second run in this
  // process waits for the first like any other loader would.
  struct stat root {};
  if (stat(DeviceRoot().c_str(), &root) != 0 || !S_ISDIR(root.st_mode)) {
    return nullptr;
  }
  const int fd = OpenLockFile();
  if (fd < 0) {
    return nullptr;
  }
  if (RetryOnInterrupt([&] { return flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)); }) != 0) {
    heldElsewhere = errno == EWOULDBLOCK;
    close(fd);
    return nullptr;
  }
  // Only a loader that this one starts reads it: a failed write costs that loader no more than
  // its quiet wait.
  char holder[kHolderFieldSize + 1];
  std::snprintf(holder, sizeof holder, "%-11ld\n", static_cast<long>(getpid()));
  [[maybe_unused]] const ssize_t written = pwrite(fd, holder, kHolderFieldSize, 0);
  return std::make_unique<FileLock>(fd);
}

bool DeviceLockHeldByParent() {
  std::string holder;
  if (!ReadFileStart(DeviceRoot() + kLockFile, kHolderFieldSize, holder) || holder.empty()) {
    return false;
  }
  return std::strtol(holder.c_str(), nullptr, 10) == static_cast<long>(getppid());
}

}  // namespace platform
