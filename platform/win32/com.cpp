#include "platform/com.h"
#include "platform/windows_types.h"

namespace platform {
namespace {

// CoUninitialize must pair only with an initialisation that succeeded (S_OK or S_FALSE); a
// thread already in another apartment (RPC_E_CHANGED_MODE) keeps it.
thread_local int initialized = 0;

class Win32Com final : public ComService {
 public:
  void InitializeThread() override {
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
      ++initialized;
    }
  }
  void UninitializeThread() override {
    if (initialized > 0) {
      --initialized;
      CoUninitialize();
    }
  }
};

}  // namespace

template <>
ComService& HostService<ComService>() {
  static Win32Com service;
  return service;
}

}  // namespace platform
