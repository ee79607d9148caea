#include <string>

#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"

namespace platform {
namespace {

// Reads the first line of a file, without its line end; false when the file cannot be read.
// Reading stops after limit bytes: a longer line could not be handed back anyway.
bool ReadFirstLine(const std::wstring& path, std::size_t limit, std::string& line) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  line.clear();
  bool readable = GetFileType(file) == FILE_TYPE_DISK;
  char buffer[256];
  while (readable && line.size() <= limit) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      readable = false;
      break;
    }
    if (got == 0) {
      break;
    }
    line.append(buffer, got);
    if (line.find_first_of("\r\n") != std::string::npos) {
      break;
    }
  }
  CloseHandle(file);
  line = line.substr(0, line.find_first_of("\r\n"));
  return readable;
}

// Desktop Windows has neither the device's platform id nor its platform type: the host counts
// as Windows CE and takes the type from the device root, as the Linux host does.
class Win32SystemInfo final : public SystemInfoService {
 public:
  bool QueryVersion(bool& isWindowsCe) override {
    isWindowsCe = true;
    return true;
  }

  bool QueryPlatformType(std::span<wchar_t> type) override {
    std::string line;
    if (!ReadFirstLine(WideHostPath(L"Windows\\PlatformType"), type.size() * 4 + 8, line)) {
      return false;
    }
    // An editor may have put a byte-order mark in front; it is not part of the text.
    if (line.starts_with("\xEF\xBB\xBF")) {
      line.erase(0, 3);
    }
    return CopyText(type, Utf8ToWide(line).c_str());
  }
};

}  // namespace

template <>
SystemInfoService& HostService<SystemInfoService>() {
  static Win32SystemInfo service;
  return service;
}

}  // namespace platform
