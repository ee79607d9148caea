#include <exception>
#include <thread>

#include "platform/dialog.h"
#include "platform/threads.h"

namespace platform {
namespace {

class LinuxThreads final : public ThreadService {
 public:
  bool StartDetached(ThreadEntry entry, void* parameter) override {
    try {
      std::thread([entry, parameter] {
        entry(parameter);
        Dialogs().BackgroundThreadEnded();
      }).detach();
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
};

}  // namespace

template <>
ThreadService& HostService<ThreadService>() {
  static LinuxThreads service;
  return service;
}

}  // namespace platform
