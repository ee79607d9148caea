#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "platform/device_root.h"
#include "platform/linux/stored_files.h"
#include "platform/small_files.h"

namespace platform {
namespace {

constexpr std::size_t kRandomLength = 12;
// Keeps "." + name + "." + random + ".tmp" well inside the file system's name limit.
constexpr std::size_t kMaxTemporaryStem = 100;

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t done = ::write(fd, content.data(), content.size());
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(done));
  }
  return true;
}

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

class LinuxSmallFiles final : public SmallFileService {
 public:
  bool ReadWholeFile(const char* path, std::size_t maxBytes, std::string& content) override {
    content.clear();
    if (path == nullptr) {
      return false;
    }
    // Non-blocking, so that a pipe or device planted at the path cannot hold the loader.
    const int fd = ::open(ToHostPath(std::string_view(path)).c_str(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      return false;
    }
    struct stat status {};
    bool fits = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                static_cast<std::uint64_t>(status.st_size) <= maxBytes;
    if (fits) {
      // The file may grow while it is read: never take more than one byte past the limit. The
      // buffer starts at the size the file has now and grows only if the file does.
      const std::size_t limit = maxBytes + 1;
      content.resize(std::min(static_cast<std::size_t>(status.st_size) + 1, limit));
      std::size_t length = 0;
      while (length < limit) {
        if (length == content.size()) {
          content.resize(std::min(content.size() * 2, limit));
        }
        const ssize_t done = ::read(fd, content.data() + length, content.size() - length);
        if (done < 0 && errno == EINTR) {
          continue;
        }
        if (done < 0) {
          fits = false;
        }
        if (done <= 0) {
          break;
        }
        length += static_cast<std::size_t>(done);
      }
      fits = fits && length <= maxBytes;
      content.resize(fits ? length : 0);
    }
    ::close(fd);
    return fits;
  }

  bool ReplaceFile(const char* path, std::string_view content) override {
    return path != nullptr && ReplaceFileContent(ToHostPath(std::string_view(path)), content);
  }
};

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

bool ReplaceFileContent(const std::string& path, std::string_view content, mode_t mode) {
  const std::string folder = FolderOf(path);
  std::string temporary;
  const int fd = CreateExclusiveFile(folder, "." + NameOf(path).substr(0, kMaxTemporaryStem) + ".",
                                     ".tmp", mode, temporary);
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

template <>
SmallFileService& HostService<SmallFileService>() {
  static LinuxSmallFiles service;
  return service;
}

}  // namespace platform
