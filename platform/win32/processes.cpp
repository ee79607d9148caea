// Placeholder until the Win32 implementation lands.
#include "platform/processes.h"

namespace platform {
namespace {

class Pending final : public ProcessService {
 public:
  bool Start(const wchar_t*, const wchar_t*, bool) override { return false; }
  std::unique_ptr<ProcessSnapshot> TakeSnapshot() override { return nullptr; }
  bool Terminate(std::uint32_t) override { return false; }
};

}  // namespace

template <>
ProcessService& HostService<ProcessService>() {
  static Pending service;
  return service;
}

}  // namespace platform
