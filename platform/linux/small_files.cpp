#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/replacement_names.h"
#include "platform/host.h"
#include "platform/linux/descriptors.h"
#include "platform/linux/stored_files.h"

namespace platform {
namespace {

// What the new files of a replacement of path are named: this, a random part, ".tmp".
std::string ReplacementPrefix(const std::string& path) {
  return "." + NameOf(path).substr(0, kMaxReplacementStem) + ".";
}

bool IsReplacementName(std::string_view name, std::string_view prefix) {
  return name.starts_with(prefix) && IsReplacementTail(name.substr(prefix.size()));
}

}  // namespace

bool ReadFileStart(const std::string& hostPath, std::size_t limit, std::string& bytes) {
  bytes.clear();
  const int fd = OpenToRead(hostPath);
  if (fd < 0) {
    return false;
  }
  // The buffer starts at the size the file has now and grows only if the file does.
  struct stat status {};
  const bool read = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                    ReadUpTo(fd, limit, bytes, static_cast<std::size_t>(status.st_size) + 1);
  ::close(fd);
  if (!read) {
    bytes.clear();
  }
  return read;
}

bool ReplaceFileContent(const std::string& path, std::string_view content) {
  const std::string folder = FolderOf(path);
  const std::string prefix = ReplacementPrefix(path);
  // The new file is held locked until it has been moved into place, so that another loader's
  // sweep of abandoned ones leaves it alone; one that the sweep took before the lock is made
  // anew.
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string temporary;
    const int fd = CreateExclusiveFile(folder, prefix, ".tmp", 0666, temporary);
    if (fd < 0) {
      return false;
    }
    temporary = folder + "/" + temporary;
    RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX); });
    if (!SameFile(fd, temporary)) {
      ::close(fd);
      continue;
    }
    const bool stored = WriteAll(fd, content) && ::fsync(fd) == 0;
    // rename() replaces the entry at path itself: a link there is replaced, its target
    // untouched.
    const bool moved = stored && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!moved) {
      ::unlink(temporary.c_str());
    }
    ::close(fd);
    if (moved) {
      SyncFolder(folder);
    }
    return moved;
  }
  return false;
}

void RemoveAbandonedReplacementsOf(const std::string& path) {
  const std::string prefix = ReplacementPrefix(path);
  DIR* listing = ::opendir(FolderOf(path).c_str());
  if (listing == nullptr) {
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    if (IsReplacementName(entry->d_name, prefix)) {
      names.emplace_back(entry->d_name);
    }
  }
  for (const std::string& name : names) {
    RemoveIfAbandoned(::dirfd(listing), name);
  }
  ::closedir(listing);
}

}  // namespace platform
