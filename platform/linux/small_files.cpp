#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "platform/host.h"
#include "platform/linux/descriptors.h"
#include "platform/linux/stored_files.h"

namespace platform {
namespace {

constexpr std::size_t kRandomLength = 12;
// Keeps "." + name + "." + random + ".tmp" well inside the file system's name limit.
constexpr std::size_t kMaxTemporaryStem = 100;

std::string RandomLetters() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string letters(kRandomLength, 'x');
  for (char& c : letters) {
    c = kLetters[pick(random)];
  }
  return letters;
}

}  // namespace

int CreateExclusiveFile(const std::string& folder, std::string_view prefix, std::string_view suffix,
                        mode_t mode, std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate(prefix);
    candidate += RandomLetters();
    candidate += suffix;
    const int fd =
        ::open((folder + "/" + candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      name = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  name.clear();
  return -1;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  // Some file systems cannot flush a folder at all; that is no failure of the move before it.
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  ::close(fd);
  return synced;
}

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
  std::string temporary;
  const int fd = CreateExclusiveFile(folder, "." + NameOf(path).substr(0, kMaxTemporaryStem) + ".",
                                     ".tmp", 0666, temporary);
  if (fd < 0) {
    return false;
  }
  temporary = folder + "/" + temporary;
  bool stored = WriteAll(fd, content) && ::fsync(fd) == 0;
  stored = ::close(fd) == 0 && stored;
  // rename() replaces the entry at path itself: a link there is replaced, its target untouched.
  if (!stored || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

}  // namespace platform
