// Placeholder until the Win32 implementation lands.
#include "platform/system_info.h"

namespace platform {
namespace {

class Pending final : public SystemInfoService {
 public:
  bool QueryVersion(bool&) override { return false; }
  bool QueryPlatformType(std::span<wchar_t>) override { return false; }
};

}  // namespace

template <>
SystemInfoService& HostService<SystemInfoService>() {
  static Pending service;
  return service;
}

}  // namespace platform
