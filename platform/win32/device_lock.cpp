// The device lock is a byte-range lock on a lock file in the device's Temp folder. The lock
// belongs to the file handle, not to a thread: the worker that takes it may end before the run
// does, and the system lets it go when the holder's process ends, however it ends. The file
// itself stays (deleting it would let two loaders lock two different files).
// The system header below needs windows.h before it.
#include "platform/windows_types.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/device_lock.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr wchar_t kLockFile[] = L"Temp\\ferrovan-device.lock";
// The holder's process id follows the locked first byte, which no other process may read, in a
// field of fixed width that each holder overwrites whole.
constexpr DWORD kHolderFieldOffset = 1;
constexpr DWORD kHolderFieldSize = 12;

DWORD ParentProcessId() {
  const OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) {
    return 0;
  }
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == self) {
      return entry.th32ParentProcessID;
    }
  }
  return 0;
}

class FileLock final : public HeldDeviceLock {
 public:
  explicit FileLock(HANDLE file) : file_(file) {}
  ~FileLock() override {
    OVERLAPPED start{};
    UnlockFileEx(file_, 0, 1, 0, &start);
    CloseHandle(file_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<HeldDeviceLock> LockDevice(bool wait, bool& heldElsewhere) {
  heldElsewhere = false;
  // A root that is missing or no folder gives no lock; a missing Temp folder is made, as the
  // device always has one.
  const std::wstring root = WideHostPath(L"");
  const DWORD attributes = GetFileAttributesW(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return nullptr;
  }
  // Nor is anything made through a junction at Temp: the run then goes on without a lock and
  // reports the folder.
  if (HostService<FileService>().IsReachedThroughLink(L"Temp")) {
    return nullptr;
  }
  CreateDirectoryW(WideHostPath(L"Temp").c_str(), nullptr);
  // Each run opens the file anew, so that a second run in this process waits for the first like
  // any other loader. The handle is not inheritable: started programs do not hold on.
  const HANDLE file = CreateFileW(WideHostPath(kLockFile).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  OVERLAPPED start{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0,
                  &start)) {
    heldElsewhere = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return nullptr;
  }
  // Only a loader that this one starts reads it: a failed write costs that loader no more than
  // its quiet wait.
  char holder[kHolderFieldSize + 1];
  std::snprintf(holder, sizeof holder, "%-11lu\n", GetCurrentProcessId());
  OVERLAPPED at{};
  at.Offset = kHolderFieldOffset;
  DWORD written = 0;
  WriteFile(file, holder, kHolderFieldSize, &written, &at);
  return std::make_unique<FileLock>(file);
}

bool DeviceLockHeldByParent() {
  const OwnedHandle file(CreateFileW(WideHostPath(kLockFile).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    return false;
  }
  char holder[kHolderFieldSize + 1] = {};
  OVERLAPPED at{};
  at.Offset = kHolderFieldOffset;
  DWORD read = 0;
  if (!ReadFile(file.Get(), holder, kHolderFieldSize, &read, &at) || read == 0) {
    return false;
  }
  const DWORD parent = ParentProcessId();
  return parent != 0 && std::strtoul(holder, nullptr, 10) == parent;
}

}  // namespace platform
