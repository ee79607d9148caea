#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <string_view>

#include "platform/common/narrow_text.h"
#include "platform/small_files.h"
#include "platform/win32/stored_files.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"

namespace platform {
namespace {

constexpr std::size_t kRandomLength = 12;
// Keeps "." + name + "." + random + ".tmp" well inside the file system's name limit.
constexpr std::size_t kMaxTemporaryStem = 100;
constexpr DWORD kMaxChunk = 1u << 20;

class File {
 public:
  explicit File(HANDLE handle) : handle_(handle) {}
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    const bool closed = !valid() || CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), kMaxChunk));
    DWORD done = 0;
    if (!WriteFile(file, content.data(), chunk, &done, nullptr) || done == 0) {
      return false;
    }
    content.remove_prefix(done);
  }
  return true;
}

// The loader's narrow paths are in the ANSI code page.
std::wstring HostPathOfNarrow(const char* path) {
  return WideHostPath(WidenNarrowText(path));
}

class Win32SmallFiles final : public SmallFileService {
 public:
  bool ReadWholeFile(const char* path, std::size_t maxBytes, std::string& content) override {
    content.clear();
    if (path == nullptr) {
      return false;
    }
    // Without backup semantics a folder does not open; a pipe or device is turned away below.
    File file(CreateFileW(HostPathOfNarrow(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
      return false;
    }
    // The file may grow while it is read: never take more than one byte past the limit.
    const std::size_t limit = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    content.resize(std::min(static_cast<std::size_t>(size.QuadPart) + 1, limit));
    std::size_t length = 0;
    bool readable = true;
    while (length < limit) {
      if (length == content.size()) {
        content.resize(std::min(content.size() * 2, limit));
      }
      const DWORD chunk =
          static_cast<DWORD>(std::min<std::size_t>(content.size() - length, kMaxChunk));
      DWORD done = 0;
      if (!ReadFile(file.get(), content.data() + length, chunk, &done, nullptr)) {
        readable = false;
        break;
      }
      if (done == 0) {
        break;
      }
      length += done;
    }
    const bool fits = readable && length <= maxBytes;
    content.resize(fits ? length : 0);
    return fits;
  }

  bool ReplaceFile(const char* path, std::string_view content) override {
    return path != nullptr && ReplaceFileContent(HostPathOfNarrow(path), content);
  }
};

}  // namespace

std::wstring RandomLetters() {
  static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^
                                      GetTickCount64()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters / sizeof kLetters[0] - 2);
  std::wstring letters(kRandomLength, L'x');
  for (wchar_t& c : letters) {
    c = kLetters[pick(random)];
  }
  return letters;
}

bool ReplaceFileContent(const std::wstring& hostPath, std::string_view content) {
  const std::size_t split = hostPath.find_last_of(L"\\/");
  const std::wstring folder = split == std::wstring::npos ? L"." : hostPath.substr(0, split);
  const std::wstring name = split == std::wstring::npos ? hostPath : hostPath.substr(split + 1);
  if (name.empty()) {
    return false;
  }
  // CREATE_NEW never opens what is already there, a link included.
  std::wstring temporary;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    temporary =
        folder + L"\\." + name.substr(0, kMaxTemporaryStem) + L"." + RandomLetters() + L".tmp";
    created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  File file(created);
  if (!file.valid()) {
    return false;
  }
  bool stored = WriteAll(file.get(), content) && FlushFileBuffers(file.get());
  stored = file.Close() && stored;
  // The move replaces the entry at hostPath itself: a link there is replaced, its target
  // untouched.
  if (!stored || !MoveFileExW(temporary.c_str(), hostPath.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

template <>
SmallFileService& HostService<SmallFileService>() {
  static Win32SmallFiles service;
  return service;
}

}  // namespace platform
