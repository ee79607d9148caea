// The device's version and platform type. A host other than the device itself counts as
// Windows CE and keeps the platform type in the device root, in the file Windows\PlatformType.
#include "platform/system_info.h"

#include <string>
#include <string_view>

#include "platform/device_root.h"
#include "platform/text.h"

namespace platform {
namespace {

class DeviceRootSystemInfo final : public SystemInfoService {
 public:
  bool QueryVersion(bool& isWindowsCe) override {
    isWindowsCe = true;
    return true;
  }

  bool QueryPlatformType(std::span<wchar_t> type) override {
    // A line longer than this could not be handed back anyway.
    std::string line;
    if (!ReadFileStart(ToHostPath(std::string_view("Windows\\PlatformType")), type.size() * 4 + 8,
                       line)) {
      return false;
    }
    line = line.substr(0, line.find_first_of("\r\n"));
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
  static DeviceRootSystemInfo service;
  return service;
}

}  // namespace platform
