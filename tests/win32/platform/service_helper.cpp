// What the process and lock tests start:
//   service_helper wait FILE              runs until FILE exists (at most a minute): a client
//   service_helper record FILE [ARGS...]  writes its folder, FERROVAN_DEVICE_ROOT and ARGS to FILE
//   service_helper lock ROOT READY GO     takes ROOT's device lock, creates READY, runs until GO
//                                         exists and ends without letting the lock go
//   service_helper take ROOT WAITED TAKEN takes ROOT's device lock as a loader does: creates
//                                         WAITED when it says that it waits, TAKEN once it has it
// The system header below needs windows.h before it.
#include "platform/windows_types.h"

#include <shellapi.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/device_lock.h"
#include "platform/device_root.h"
#include "platform/win32/wide_text.h"

namespace {

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForFile(const std::wstring& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool Write(const std::wstring& path, const std::string& content) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
      written == content.size();
  CloseHandle(file);
  return ok;
}

std::wstring Variable(const wchar_t* name) {
  wchar_t value[4096];
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr || count < 3) {
    return 2;
  }
  const std::wstring mode = args[1];
  if (mode == L"wait") {
    return WaitForFile(args[2]) ? 0 : 3;
  }
  if (mode == L"record") {
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::wstring text = std::wstring(folder) + L"\n" + Variable(L"FERROVAN_DEVICE_ROOT") + L"\n";
    for (int i = 3; i < count; ++i) {
      text += std::wstring(args[i]) + L"\n";
    }
    return Write(args[2], platform::WideToUtf8(text)) ? 0 : 3;
  }
  if (mode == L"lock" && count == 5) {
    platform::SetDeviceRoot(platform::WideToUtf8(args[2]));
    auto lock = platform::DeviceLock().Take(nullptr);
    if (lock == nullptr || !Write(args[3], "locked")) {
      return 3;
    }
    WaitForFile(args[4]);
    // Ends with the lock still held: the system must let it go with the process.
    ExitProcess(0);
  }
  if (mode == L"take" && count == 5) {
    platform::SetDeviceRoot(platform::WideToUtf8(args[2]));
    const std::wstring waited = args[3];
    auto lock = platform::DeviceLock().Take([&waited] { Write(waited, "waited"); });
    return lock != nullptr && Write(args[4], "taken") ? 0 : 3;
  }
  return 2;
}
