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
