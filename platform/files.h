// Files and folders of the device (CreateDirectoryW, GetFileAttributesW, DeleteFileW,
// MoveFileW, FindFirstFileW/FindNextFileW, GetDiskFreeSpaceExW stand-ins). Paths are device
// paths.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/service.h"
#include "platform/windows_types.h"

namespace platform {

enum class CreateFolderResult { Created, AlreadyExists, PathNotFound, OtherError };

// One open folder search; yields the names (no folder part, never "." or "..") that match the
// pattern's last component. Closed when destroyed.
class FileSearch {
 public:
  virtual ~FileSearch() = default;
  // Writes the next matching name into name; false when there is none (or it does not fit).
  virtual bool Next(std::span<wchar_t> name) = 0;
};

class FileService {
 public:
  virtual ~FileService() = default;
  virtual CreateFolderResult CreateFolder(const wchar_t* path) = 0;
  // FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL; INVALID_FILE_ATTRIBUTES when absent.
  virtual DWORD GetAttributes(const wchar_t* path) = 0;
  // Removes a file; never a folder.
  virtual bool DeleteFile(const wchar_t* path) = 0;
  // Fails when the destination exists.
  virtual bool MoveFile(const wchar_t* from, const wchar_t* to) = 0;
  // Opens a search for "folder\pattern" with the device's wildcards (* and ?; "*.*" matches
  // every name). Null when the folder cannot be read.
  virtual std::unique_ptr<FileSearch> FindFiles(const wchar_t* pattern) = 0;
  // Bytes available to the user on the storage that holds path; false when the query fails.
  virtual bool FreeBytesAvailable(const wchar_t* path, std::uint64_t& bytes) = 0;
  // Whether the device folder path, or a folder on the way to it below the device root, is a
  // link (a symbolic link; on Windows any reparse point, a junction too), which would lead what
  // the loader writes or deletes there out of the device. The walk ends at the first part that
  // is missing: what the loader creates there is a plain folder.
  virtual bool IsReachedThroughLink(const wchar_t* path) = 0;
};

inline FileService& Files() {
  return Use<FileService>();
}

// The device's wildcard matching, case-sensitive as host file names are.
bool MatchesWildcard(const wchar_t* pattern, const wchar_t* name);

}  // namespace platform
