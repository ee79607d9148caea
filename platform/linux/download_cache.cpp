#include "platform/linux/download_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/device_root.h"
#include "platform/linux/descriptors.h"
#include "platform/linux/stored_files.h"

namespace platform {
namespace {

// Removes the copy name in the open folder when no one holds it locked. The lock taken here is
// what a download's own lock excludes; the name is checked again under it, since the entry might
// have been replaced since it was opened.
void RemoveIfAbandoned(int folder, const std::string& name) {
  const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return;
  }
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
    ::unlinkat(folder, name.c_str(), 0);
  }
  ::close(fd);
}

bool SameFile(int fd, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

std::string CreateCacheFile(const std::string& folder, const std::string& name, int& fd) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string created;
    fd = CreateExclusiveFile(folder, kCacheFilePrefix, "-" + name, 0777, created);
    if (fd < 0) {
      return {};
    }
    RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX); });
    // A sweep may have taken the new file between its creation and the lock.
    if (SameFile(fd, folder + "/" + created)) {
      return created;
    }
    ::close(fd);
  }
  fd = -1;
  return {};
}

void RemoveAbandonedCacheFiles() {
  DIR* listing = ::opendir((DeviceRoot() + "/Temp").c_str());
  if (listing == nullptr) {
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    if (std::string_view(entry->d_name).starts_with(kCacheFilePrefix)) {
      names.emplace_back(entry->d_name);
    }
  }
  for (const std::string& name : names) {
    RemoveIfAbandoned(::dirfd(listing), name);
  }
  ::closedir(listing);
}

}  // namespace platform
