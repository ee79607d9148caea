#include "tests/platform/download_host.h"

#include <gtest/gtest.h>

#include "platform/win32/bind_status_bridge.h"
#include "platform/windows_types.h"

namespace download_host {

const bool kProgressEndsWithStatus6 = true;
const bool kHeldCopyHasAName = true;

void BeginTest() {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
}

void EndTest() {
  EXPECT_EQ(platform::BindStatusBridge::Live(), 0) << "urlmon or the service kept a bridge alive";
  CoUninitialize();
}

int TryToChange(const std::filesystem::path& file) {
  int changed = 0;
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    changed += WriteFile(handle, "EVIL", 4, &written, nullptr) ? 1 : 0;
    CloseHandle(handle);
  }
  const std::wstring path = file.wstring();
  changed += MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0) ? 1 : 0;
  changed += DeleteFileW(path.c_str()) ? 1 : 0;
  return changed;
}

}  // namespace download_host
