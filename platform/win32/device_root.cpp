// Placeholder until the Win32 implementation lands.
#include "platform/device_root.h"

namespace platform {

std::string ChooseDeviceRoot(const char*, const std::string&) {
  return {};
}

void SetDeviceRoot(std::string_view) {}

const std::string& DeviceRoot() {
  static const std::string none;
  return none;
}

std::string ToHostPath(std::wstring_view) {
  return {};
}

std::string ToHostPath(std::string_view) {
  return {};
}

bool CreateSystemFolders() {
  return false;
}

}  // namespace platform
