#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/common/replacement_names.h"
#include "platform/common/wildcard.h"
#include "platform/device_root.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/linux/descriptors.h"
#include "platform/linux/device_processes.h"
#include "platform/linux/stored_files.h"
#include "platform/text.h"

namespace platform {
namespace {

class FolderSearch final : public FileSearch {
 public:
  FolderSearch(DIR* folder, std::wstring pattern) : folder_(folder), pattern_(std::move(pattern)) {}
  ~FolderSearch() override { closedir(folder_); }
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;

  bool Next(std::span<wchar_t> name) override {
    while (const dirent* entry = readdir(folder_)) {
      const std::string_view hostName = entry->d_name;
      if (hostName == "." || hostName == "..") {
        continue;
      }
      const std::wstring wideName = Utf8ToWide(hostName);
      if (MatchesWildcard(pattern_.c_str(), wideName.c_str())) {
        return CopyText(name, wideName.c_str());
      }
    }
    return false;
  }

 private:
  DIR* folder_;
  std::wstring pattern_;
};

// For file systems without RENAME_NOREPLACE: a hard link fails on an existing destination
// atomically; where links are not possible either, a check ahead of the rename has to do.
bool MoveWithoutReplaceFlag(const std::string& from, const std::string& to) {
  if (link(from.c_str(), to.c_str()) == 0) {
    if (unlink(from.c_str()) == 0) {
      return true;
    }
    unlink(to.c_str());
    return false;
  }
  if (errno == EEXIST) {
    return false;
  }
  struct stat existing {};
  if (lstat(to.c_str(), &existing) == 0 || errno != ENOENT) {
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}

// Gives a flushed file its final name, never replacing what is there.
bool MoveIntoPlace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  return (errno == EINVAL || errno == ENOSYS) && MoveWithoutReplaceFlag(from, to);
}

// Copies the whole of the open source into the open target.
bool CopyContent(int source, int target) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got =
        RetryOnInterrupt([&] { return read(source, buffer.data(), buffer.size()); });
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      return true;
    }
    if (!WriteAll(target, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
      return false;
    }
  }
}

// A move between file systems (a Temp or install folder mounted apart) is a copy and a delete,
// as the device's own move between volumes is. The copy is written under a new name beside the
// destination, flushed, and only then given its name, so that a kill, a full disk or a power cut
// mid-copy never leaves a cut file under the destination's name. The new name has the shape of a
// small file's replacement and is held locked while it is written, as those are.
bool MoveAcrossFileSystems(const std::string& from, const std::string& to) {
  const int source = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (source < 0) {
    return false;
  }
  struct stat status {};
  const std::string folder = FolderOf(to);
  std::string created;
  int target = -1;
  if (fstat(source, &status) == 0 && S_ISREG(status.st_mode)) {
    target = CreateExclusiveFile(folder, "." + NameOf(to).substr(0, kMaxReplacementStem) + ".",
                                 ".tmp", status.st_mode & 0777, created);
  }
  bool moved = false;
  if (target >= 0) {
    const std::string copy = folder + "/" + created;
    moved = RetryOnInterrupt([&] { return flock(target, LOCK_EX); }) == 0 &&
            CopyContent(source, target) && fsync(target) == 0 && MoveIntoPlace(copy, to);
    if (!moved) {
      unlink(copy.c_str());
    }
    close(target);
  }
  close(source);
  if (moved && unlink(from.c_str()) != 0) {
    unlink(to.c_str());
    moved = false;
  }
  return moved;
}

class LinuxFiles final : public FileService {
 public:
  CreateFolderResult CreateFolder(const wchar_t* path) override {
    if (MakeStoredFolder(ToHostPath(path))) {
      return CreateFolderResult::Created;
    }
    switch (errno) {
      case EEXIST:
        return CreateFolderResult::AlreadyExists;
      case ENOENT:
      case ENOTDIR:
        return CreateFolderResult::PathNotFound;
      default:
        return CreateFolderResult::OtherError;
    }
  }

  DWORD GetAttributes(const wchar_t* path) override {
    struct stat status {};
    if (stat(ToHostPath(path).c_str(), &status) != 0) {
      return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  }

  // unlink(2) on Linux refuses every folder (EISDIR), empty or not; a link to a folder is
  // removed as the link it is. Linux would also remove the file of a running program, which a
  // device refuses: the newest loader would delete itself while clearing the install folder.
  bool DeleteFile(const wchar_t* path) override {
    const std::string hostPath = ToHostPath(path);
    if (IsRunningProgramFile(hostPath)) {
      errno = ETXTBSY;
      return false;
    }
    return unlink(hostPath.c_str()) == 0;
  }

  // The destination's folder is flushed after the move, so that a power cut does not take back
  // a file the loader has counted as in place.
  bool MoveFile(const wchar_t* from, const wchar_t* to) override {
    const std::string hostFrom = ToHostPath(from);
    const std::string hostTo = ToHostPath(to);
    bool moved =
        renameat2(AT_FDCWD, hostFrom.c_str(), AT_FDCWD, hostTo.c_str(), RENAME_NOREPLACE) == 0;
    if (!moved) {
      switch (errno) {
        case EXDEV:
          moved = MoveAcrossFileSystems(hostFrom, hostTo);
          break;
        case EINVAL:
        case ENOSYS:
          moved = MoveWithoutReplaceFlag(hostFrom, hostTo);
          break;
        default:
          return false;
      }
    }
    if (moved) {
      SyncFolder(FolderOf(hostTo));
    }
    return moved;
  }

  std::unique_ptr<FileSearch> FindFiles(const wchar_t* pattern) override {
    const auto [folder, namePattern] = SplitSearchPattern(pattern);
    DIR* handle = opendir(ToHostPath(folder).c_str());
    if (handle == nullptr) {
      return nullptr;
    }
    return std::make_unique<FolderSearch>(handle, std::wstring(namePattern));
  }

  bool FreeBytesAvailable(const wchar_t* path, std::uint64_t& bytes) override {
    struct statvfs storage {};
    if (statvfs(ToHostPath(path).c_str(), &storage) != 0) {
      return false;
    }
    bytes = static_cast<std::uint64_t>(storage.f_bavail) * storage.f_frsize;
    return true;
  }

  bool IsReachedThroughLink(const wchar_t* path) override {
    const std::string& root = DeviceRoot();
    const std::string hostPath = ToHostPath(path);
    std::string walked = root;
    for (std::size_t at = root.size(); at < hostPath.size();) {
      const std::size_t end = std::min(hostPath.find('/', at + 1), hostPath.size());
      walked.append(hostPath, at, end - at);
      at = end;
      if (walked.back() == '/') {
        continue;
      }
      struct stat status {};
      if (lstat(walked.c_str(), &status) != 0) {
        return false;
      }
      if (S_ISLNK(status.st_mode)) {
        return true;
      }
    }
    return false;
  }
};

}  // namespace

template <>
FileService& HostService<FileService>() {
  static LinuxFiles service;
  return service;
}

}  // namespace platform
