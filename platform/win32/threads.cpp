#include <mutex>
#include <new>
#include <vector>

#include "platform/dialog.h"
#include "platform/threads.h"
#include "platform/win32/started_threads.h"
#include "platform/windows_types.h"

namespace platform {
namespace {

struct Start {
  ThreadEntry entry;
  void* parameter;
};

DWORD WINAPI Run(LPVOID start) {
  const Start job = *static_cast<Start*>(start);
  delete static_cast<Start*>(start);
  job.entry(job.parameter);
  Dialogs().BackgroundThreadEnded();
  return 0;
}

// The handles of the threads started so far; those that have ended are closed as new ones start.
struct StartedThreads {
  std::mutex mutex;
  std::vector<HANDLE> handles;
};

StartedThreads& Started() {
  // Never destroyed: the entry waits on it while the process ends.
  static StartedThreads* const started = new StartedThreads;
  return *started;
}

void Remember(HANDLE thread) {
  StartedThreads& started = Started();
  std::lock_guard lock(started.mutex);
  std::erase_if(started.handles, [](HANDLE handle) {
    if (WaitForSingleObject(handle, 0) != WAIT_OBJECT_0) {
      return false;
    }
    CloseHandle(handle);
    return true;
  });
  started.handles.push_back(thread);
}

class Win32Threads final : public ThreadService {
 public:
  bool StartDetached(ThreadEntry entry, void* parameter) override {
    auto* start = new (std::nothrow) Start{entry, parameter};
    if (start == nullptr) {
      return false;
    }
    const HANDLE thread = CreateThread(nullptr, 0, Run, start, 0, nullptr);
    if (thread == nullptr) {
      delete start;
      return false;
    }
    // Nobody joins it, but the process waits for it before it ends (WaitForStartedThreads).
    Remember(thread);
    return true;
  }
};

}  // namespace

bool WaitForStartedThreads(unsigned long milliseconds) {
  StartedThreads& started = Started();
  std::lock_guard lock(started.mutex);
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (const HANDLE handle : started.handles) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(handle, left) != WAIT_OBJECT_0) {
      return false;
    }
  }
  return true;
}

template <>
ThreadService& HostService<ThreadService>() {
  static Win32Threads service;
  return service;
}

}  // namespace platform
