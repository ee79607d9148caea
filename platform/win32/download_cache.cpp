#include "platform/win32/download_cache.h"

#include "platform/win32/stored_files.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr std::size_t kMaxNameLength = 100;

// The part of a name that is safe in a file name: letters, digits, '.', '-', '_'.
std::wstring SafeName(std::wstring_view name) {
  std::wstring safe;
  for (const wchar_t c : name.substr(0, kMaxNameLength)) {
    const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                       (c >= L'0' && c <= L'9') || c == L'.' || c == L'-' || c == L'_';
    safe += plain ? c : L'_';
  }
  return safe.empty() || safe == L"." || safe == L".." ? std::wstring(L"download") : safe;
}

}  // namespace

std::wstring CreateCacheFile(std::wstring_view name) {
  CreateDirectoryW(WideHostPath(L"Temp").c_str(), nullptr);  // a device always has it
  const std::wstring suffix = L"-" + SafeName(name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring devicePath =
        std::wstring(L"Temp\\") + kCacheFilePrefix + RandomLetters() + suffix;
    // CREATE_NEW never opens what is already there, a link included.
    const HANDLE file = CreateFileW(WideHostPath(devicePath).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return devicePath;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  return {};
}

void RemoveAbandonedCacheFiles() {
  const std::wstring folder = WideHostPath(L"Temp");
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW((folder + L"\\" + kCacheFilePrefix + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    // A copy that a download still writes is open, and the system refuses to delete it.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

}  // namespace platform
