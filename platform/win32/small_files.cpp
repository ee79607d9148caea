// Small files on the Win32 host: read through one handle, replaced through a new file under an
// exclusive name beside the old one, flushed, then moved over it.
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "platform/common/replacement_names.h"
#include "platform/host.h"
#include "platform/win32/handles.h"
#include "platform/win32/small_files.h"
#include "platform/windows_types.h"

namespace platform {
namespace {

// What the new files of a replacement of name are named: this, a random part, ".tmp".
std::wstring ReplacementPrefix(const std::wstring& name) {
  return L"." + name.substr(0, kMaxReplacementStem) + L".";
}

// The search matches names in any letter case and by their short names too: the exact shape
// is checked here.
bool IsReplacementName(std::wstring_view name, std::wstring_view prefix) {
  return name.size() > prefix.size() &&
         CompareStringOrdinal(name.data(), static_cast<int>(prefix.size()), prefix.data(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL &&
         IsReplacementTail(name.substr(prefix.size()));
}

}  // namespace

bool ReadFileStart(const std::string& hostPath, std::size_t limit, std::string& bytes) {
  bytes.clear();
  // Without backup semantics a folder does not open; a pipe or device is turned away below.
  OwnedHandle file(CreateFileW(Utf8ToWide(hostPath).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!file.Valid() || GetFileType(file.Get()) != FILE_TYPE_DISK ||
      !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) {
    return false;
  }
  // The buffer starts at the size the file has now and grows only if the file does. The size is
  // bounded in 64 bits: a size_t of 32 would wrap a file of 4 GiB and more.
  const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
  const std::size_t initialSize = fileSize < limit ? static_cast<std::size_t>(fileSize) + 1 : limit;
  if (!ReadUpTo(file.Get(), limit, bytes, initialSize)) {
    bytes.clear();
    return false;
  }
  return true;
}

bool ReplaceFileContent(const std::string& hostPath, std::string_view content) {
  return ReplaceFileContent(Utf8ToWide(hostPath), content);
}

std::wstring RandomLetters() {
  static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^
                                      GetTickCount64()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters / sizeof kLetters[0] - 2);
  std::wstring letters(kRandomNameLength, L'x');
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
  // CREATE_NEW never opens what is already there, a link included. The new file stays open
  // until it has been moved into place, and it shares only deletion (which the move needs): a
  // sweep of abandoned ones, which opens them exclusively, cannot take it meanwhile.
  std::wstring temporary;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = folder + L"\\" + ReplacementPrefix(name) + RandomLetters() + L".tmp";
    created = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  OwnedHandle file(created);
  if (!file.Valid()) {
    return false;
  }
  const bool stored = WriteAll(file.Get(), content) && FlushFileBuffers(file.Get());
  // The move replaces the entry at hostPath itself: a link there is replaced, its target
  // untouched.
  const bool moved = stored && MoveFileExW(temporary.c_str(), hostPath.c_str(),
                                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!moved) {
    DeleteFileW(temporary.c_str());  // gone once the handle closes
  }
  return file.Close() && moved;
}

void RemoveAbandonedReplacementsOf(const std::string& hostPath) {
  const std::wstring path = Utf8ToWide(hostPath);
  const std::size_t split = path.find_last_of(L"\\/");
  const std::wstring folder = split == std::wstring::npos ? L"." : path.substr(0, split);
  const std::wstring name = split == std::wstring::npos ? path : path.substr(split + 1);
  if (name.empty()) {
    return;
  }
  const std::wstring prefix = ReplacementPrefix(name);
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW((folder + L"\\" + prefix + L"*.tmp").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !IsReplacementName(entry.cFileName, prefix)) {
      continue;
    }
    // Opened exclusively and deleted on closing: the new file of a live writer is open, and
    // this open fails.
    const HANDLE abandoned =
        CreateFileW((folder + L"\\" + entry.cFileName).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (abandoned != INVALID_HANDLE_VALUE) {
      CloseHandle(abandoned);
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

}  // namespace platform
