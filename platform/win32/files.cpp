#include <string>

#include "platform/common/wildcard.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/held_file_move.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// As the file system compares names: without regard to case.
bool SameLetterIgnoringCase(wchar_t a, wchar_t b) {
  return CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL;
}

// The system's own search, whose names match without regard to case as the file system's do. A
// name it finds only through its short 8.3 form ("c.dll1" as C~1.DLL for "*.dll") is left out:
// the device's wildcards apply to whole names.
class FolderSearch final : public FileSearch {
 public:
  FolderSearch(HANDLE handle, const WIN32_FIND_DATAW& first, std::wstring pattern)
      : handle_(handle),
        entry_(first),
        pending_(handle != INVALID_HANDLE_VALUE),
        pattern_(std::move(pattern)) {}
  ~FolderSearch() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      FindClose(handle_);
    }
  }
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;

  bool Next(std::span<wchar_t> name) override {
    while (pending_ || (handle_ != INVALID_HANDLE_VALUE && FindNextFileW(handle_, &entry_))) {
      pending_ = false;
      const std::wstring_view found = entry_.cFileName;
      if (found == L"." || found == L"..") {
        continue;
      }
      if (MatchesWildcard(pattern_.c_str(), entry_.cFileName, &SameLetterIgnoringCase)) {
        return CopyText(name, entry_.cFileName);
      }
    }
    return false;
  }

 private:
  HANDLE handle_;
  WIN32_FIND_DATAW entry_;
  bool pending_;
  std::wstring pattern_;
};

class Win32Files final : public FileService {
 public:
  CreateFolderResult CreateFolder(const wchar_t* path) override {
    if (path == nullptr) {
      return CreateFolderResult::OtherError;
    }
    if (CreateDirectoryW(WideHostPath(path).c_str(), nullptr)) {
      return CreateFolderResult::Created;
    }
    switch (GetLastError()) {
      case ERROR_ALREADY_EXISTS:
        return CreateFolderResult::AlreadyExists;
      case ERROR_PATH_NOT_FOUND:
        return CreateFolderResult::PathNotFound;
      default:
        return CreateFolderResult::OtherError;
    }
  }

  DWORD GetAttributes(const wchar_t* path) override {
    if (path == nullptr) {
      return INVALID_FILE_ATTRIBUTES;
    }
    const DWORD attributes = GetFileAttributesW(WideHostPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return INVALID_FILE_ATTRIBUTES;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FILE_ATTRIBUTE_DIRECTORY
                                                        : FILE_ATTRIBUTE_NORMAL;
  }

  // DeleteFileW refuses folders, and the file of a running program as a device does (Windows
  // and Wine alike hold a program's file while it runs).
  bool DeleteFile(const wchar_t* path) override {
    return path != nullptr && DeleteFileW(WideHostPath(path).c_str()) != FALSE;
  }

  // Without MOVEFILE_REPLACE_EXISTING the move fails when the destination exists. A download's
  // cache copy may lie on another volume, where the move is a copy beside the destination and a
  // delete (MoveHeldFile); write-through returns only once the file is in place on storage.
  bool MoveFile(const wchar_t* from, const wchar_t* to) override {
    if (from == nullptr || to == nullptr) {
      return false;
    }
    const std::wstring hostFrom = WideHostPath(from);
    const std::wstring hostTo = WideHostPath(to);
    if (MoveFileExW(hostFrom.c_str(), hostTo.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) {
      return false;
    }
    const OwnedHandle held(CreateFileW(hostFrom.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return held.Valid() && MoveHeldFile(held.Get(), hostTo, false);
  }

  std::unique_ptr<FileSearch> FindFiles(const wchar_t* pattern) override {
    const auto [folder, namePattern] = SplitSearchPattern(pattern);
    std::wstring query = WideHostPath(folder);
    if (!query.empty() && query.back() != L'\\') {
      query += L'\\';
    }
    query += namePattern;
    WIN32_FIND_DATAW first{};
    const HANDLE handle = FindFirstFileW(query.c_str(), &first);
    // No match in a folder that is there is an empty search, not a failure.
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
      return nullptr;
    }
    return std::make_unique<FolderSearch>(handle, first, std::wstring(namePattern));
  }

  bool FreeBytesAvailable(const wchar_t* path, std::uint64_t& bytes) override {
    ULARGE_INTEGER available{};
    if (path == nullptr ||
        !GetDiskFreeSpaceExW(WideHostPath(path).c_str(), &available, nullptr, nullptr)) {
      return false;
    }
    bytes = available.QuadPart;
    return true;
  }

  // A junction or a mount point is as much a way out of the device as a symbolic link, so every
  // reparse point counts.
  bool IsReachedThroughLink(const wchar_t* path) override {
    if (path == nullptr) {
      return false;
    }
    const std::wstring root = WideHostPath(L"");
    const std::wstring hostPath = WideHostPath(path);
    std::wstring walked = root;
    for (std::size_t at = root.size(); at < hostPath.size();) {
      std::size_t end = hostPath.find_first_of(L"\\/", at + 1);
      if (end == std::wstring::npos) {
        end = hostPath.size();
      }
      walked.append(hostPath, at, end - at);
      at = end;
      if (walked.back() == L'\\' || walked.back() == L'/') {
        continue;
      }
      const DWORD attributes = GetFileAttributesW(walked.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
      }
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return true;
      }
    }
    return false;
  }
};

}  // namespace

template <>
FileService& HostService<FileService>() {
  static Win32Files service;
  return service;
}

}  // namespace platform
