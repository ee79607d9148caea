#include "loader/platform_detection.h"

#include <cwchar>

#include "platform/system_info.h"
#include "platform/windows_types.h"

namespace {

wchar_t FoldCase(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Case-insensitive comparison for equality; the names compared against are plain ASCII words.
bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b) {
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (FoldCase(*a) != FoldCase(*b)) {
      return false;
    }
  }
  return *a == *b;
}

}  // namespace

std::int32_t ClassifyPlatform(bool versionOk, bool isWindowsCe, bool typeOk, const wchar_t* type) {
  if (!versionOk || !isWindowsCe || !typeOk) {
    return kPlatformUnknown;
  }
  // Smartphone is tested first and without regard to case; PocketPC must match exactly.
  if (EqualIgnoringCase(type, L"Smartphone")) {
    return kPlatformSmartphone;
  }
  if (std::wcscmp(type, L"PocketPC") == 0) {
    return kPlatformPocketPc;
  }
  return kPlatformPlainCe;
}

std::int32_t DetectPlatform() {
  platform::SystemInfoService& system = platform::SystemInfo();
  bool isWindowsCe = false;
  const bool versionOk = system.QueryVersion(isWindowsCe);
  wchar_t type[MAX_PATH] = L"";
  const bool typeOk = versionOk && isWindowsCe && system.QueryPlatformType(type);
  type[MAX_PATH - 1] = L'\0';
  return ClassifyPlatform(versionOk, isWindowsCe, typeOk, type);
}
