#include "platform/win32/download_cache.h"

#include "platform/host.h"
#include "platform/win32/small_files.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_types.h"

namespace platform {
std::wstring CreateCacheFile(const wchar_t* url, OwnedHandle& file) {
  CreateDirectoryW(WideHostPath(L"Temp").c_str(), nullptr);  // a device always has it
  const std::wstring prefix = L"Temp\\" + Utf8ToWide(kCacheFilePrefix);
  const std::wstring suffix = L"-" + Utf8ToWide(CacheFileNameFor(url));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring devicePath = prefix + RandomLetters() + suffix;
    // CREATE_NEW never opens what is already there, a link included.
    file = OwnedHandle(CreateFileW(WideHostPath(devicePath).c_str(),
                                   GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid()) {
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
  const HANDLE search =
      FindFirstFileW((folder + L"\\" + Utf8ToWide(kCacheFilePrefix) + L"*").c_str(), &entry);
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
