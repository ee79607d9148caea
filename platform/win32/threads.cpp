#include <new>

#include "platform/dialog.h"
#include "platform/threads.h"
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
    // Nobody waits for it.
    CloseHandle(thread);
    return true;
  }
};

}  // namespace

template <>
ThreadService& HostService<ThreadService>() {
  static Win32Threads service;
  return service;
}

}  // namespace platform
