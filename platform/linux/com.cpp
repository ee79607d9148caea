#include "platform/com.h"

namespace platform {
namespace {

// Downloads on this host need no per-thread set-up.
class NoCom final : public ComService {
 public:
  void InitializeThread() override {}
  void UninitializeThread() override {}
};

}  // namespace

template <>
ComService& HostService<ComService>() {
  static NoCom service;
  return service;
}

}  // namespace platform
