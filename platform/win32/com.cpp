// Placeholder until the Win32 implementation lands.
#include "platform/com.h"

namespace platform {
namespace {

class Pending final : public ComService {
 public:
  void InitializeThread() override {}
  void UninitializeThread() override {}
};

}  // namespace

template <>
ComService& HostService<ComService>() {
  static Pending service;
  return service;
}

}  // namespace platform
