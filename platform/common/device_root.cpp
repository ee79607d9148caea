// The device root chosen for this run: set once at start-up, else chosen from the environment
// at its first use.
#include "platform/common/device_root.h"

#include <mutex>

#include "platform/device_root.h"

namespace platform {

namespace {

struct RootState {
  std::once_flag chosen;
  std::string folder;
};

RootState& State() {
  static RootState state;
  return state;
}

}  // namespace

void SetDeviceRoot(std::string_view hostFolder) {
  // A root set before any use is never chosen from the environment first.
  RootState& state = State();
  std::call_once(state.chosen, [] {});
  state.folder = AbsoluteHostFolder(hostFolder);
}

const std::string& DeviceRoot() {
  // Until start-up sets it, the root is the one the environment names, so that nothing is
  // ever mapped onto the host's own top folder.
  RootState& state = State();
  std::call_once(state.chosen, [&state] { state.folder = ChooseDeviceRoot(nullptr, {}); });
  return state.folder;
}

}  // namespace platform
