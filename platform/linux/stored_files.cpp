#include "platform/linux/stored_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <string_view>

#include "platform/common/replacement_names.h"

namespace platform {
namespace {

std::string RandomLetters() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string letters(kRandomNameLength, 'x');
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
        ::open((folder + "/" + candidate).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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

int OpenUnnamedFile(const std::string& folder, mode_t mode) {
  return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
}

bool UnnamedFilesUnsupported(int error) {
  // EISDIR: a kernel older than O_TMPFILE takes it for a plain O_DIRECTORY open.
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

bool LinkUnnamedFile(int fd, const std::string& folder, std::string_view prefix,
                     std::string_view suffix, std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate(prefix);
    candidate += RandomLetters();
    candidate += suffix;
    const std::string path = folder + "/" + candidate;
    // Through /proc for any user; AT_EMPTY_PATH where /proc is missing, which needs a privilege.
    int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT) {
      linked = ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH);
    }
    if (linked == 0) {
      name = std::move(candidate);
      return true;
    }
    if (errno != EEXIST) {
      break;
    }
  }
  name.clear();
  return false;
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

bool MakeStoredFolder(const std::string& folder, mode_t mode) {
  if (::mkdir(folder.c_str(), mode) != 0) {
    return false;
  }
  // "a/b/" is held by "a", as "a/b" is.
  std::string named = folder;
  while (named.size() > 1 && named.back() == '/') {
    named.pop_back();
  }
  SyncFolder(FolderOf(named));
  return true;
}

// The name is checked again under the lock, since the entry might have been replaced since it
// was opened. The lock taken here is
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

}  // namespace platform
