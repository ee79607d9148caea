// Placeholder until the Win32 implementation lands.
#include "platform/threads.h"

namespace platform {
namespace {

class Pending final : public ThreadService {
 public:
  bool StartDetached(ThreadEntry, void*) override { return false; }
};

}  // namespace

template <>
ThreadService& HostService<ThreadService>() {
  static Pending service;
  return service;
}

}  // namespace platform
