#include "platform/win32/device_processes.h"

// The system header below needs windows.h before it.
#include "platform/windows_types.h"

#include <tlhelp32.h>

#include <vector>

#include "platform/device_root.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) {
      CloseHandle(handle_);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Calls a Win32 function that writes a path of unknown length, growing the buffer as it asks.
template <class Call>
std::wstring GrowingPath(Call call) {
  std::wstring text(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD written = call(text.data(), static_cast<DWORD>(text.size()));
    if (written == 0) {
      return {};
    }
    if (written < text.size()) {
      text.resize(written);
      return text;
    }
    text.resize(written + 1);
  }
  return {};
}

// "\\?\C:\x" -> "C:\x", "\\?\UNC\server\x" -> "\\server\x".
std::wstring WithoutLongPrefix(std::wstring path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) {
    return L"\\" + path.substr(7);
  }
  if (path.starts_with(L"\\\\?\\")) {
    return path.substr(4);
  }
  return path;
}

std::wstring ImagePath(DWORD processId) {
  Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process.valid()) {
    return {};
  }
  return GrowingPath([&process](wchar_t* buffer, DWORD size) -> DWORD {
    DWORD length = size;
    return QueryFullProcessImageNameW(process.get(), 0, buffer, &length) ? length : size;
  });
}

std::wstring LastComponent(const std::wstring& path) {
  const std::size_t split = path.find_last_of(L"\\/");
  return split == std::wstring::npos ? path : path.substr(split + 1);
}

// The path with links, short names and ".." resolved, in the case the file system keeps; for a
// path that cannot be opened, its full long form as far as that can be had.
std::wstring CanonicalPath(const std::wstring& path) {
  if (path.empty()) {
    return {};
  }
  // Opening for no access at all works on files that others hold open, running programs
  // included; backup semantics lets folders open too.
  Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.valid()) {
    std::wstring final = GrowingPath([&file](wchar_t* buffer, DWORD size) {
      return GetFinalPathNameByHandleW(file.get(), buffer, size,
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    if (!final.empty()) {
      return WithoutLongPrefix(std::move(final));
    }
  }
  std::wstring full = GrowingPath([&path](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
  });
  if (full.empty()) {
    return path;
  }
  std::wstring longForm = GrowingPath([&full](wchar_t* buffer, DWORD size) {
    return GetLongPathNameW(full.c_str(), buffer, size);
  });
  return longForm.empty() ? full : longForm;
}

// Whether path lies strictly inside folder (both canonical), compared as Windows compares names.
bool IsInsideFolder(const std::wstring& folder, const std::wstring& path) {
  std::wstring prefix = folder;
  if (prefix.empty()) {
    return false;
  }
  if (prefix.back() != L'\\') {
    prefix += L'\\';
  }
  return path.size() > prefix.size() &&
         CompareStringOrdinal(path.data(), static_cast<int>(prefix.size()), prefix.data(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}
}  // namespace

bool ForEachDeviceProcess(const std::function<bool(const DeviceProcess&)>& visit) {
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) {
    return false;
  }
  // A root that does not exist holds no program files, so no process belongs to it.
  const std::wstring root = CanonicalPath(Utf8ToWide(DeviceRoot()));
  const DWORD rootAttributes = GetFileAttributesW(root.c_str());
  if (rootAttributes == INVALID_FILE_ATTRIBUTES ||
      (rootAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return true;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == 0) {
      continue;
    }
    const std::wstring image = ImagePath(entry.th32ProcessID);
    if (image.empty()) {
      continue;
    }
    DeviceProcess process{entry.th32ProcessID, LastComponent(image), CanonicalPath(image)};
    if (IsInsideFolder(root, process.programFile) && !visit(process)) {
      break;
    }
  }
  return true;
}

}  // namespace platform
