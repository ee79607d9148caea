// System information (GetVersionExW and SystemParametersInfoW with SPI_GETPLATFORMTYPE).
#pragma once

#include <span>

#include "platform/service.h"

namespace platform {

class SystemInfoService {
 public:
  virtual ~SystemInfoService() = default;
  // False when the version query fails; isWindowsCe tells the platform id otherwise.
  virtual bool QueryVersion(bool& isWindowsCe) = 0;
  // The platform type text ("PocketPC", "Smartphone", ...); false when the query fails.
  virtual bool QueryPlatformType(std::span<wchar_t> type) = 0;
};

inline SystemInfoService& SystemInfo() {
  return Use<SystemInfoService>();
}

}  // namespace platform
