// The device root: chosen once, in the same order on every host, and the folders every device
// has.
#include "platform/device_root.h"

#include <mutex>

#include "platform/files.h"
#include "platform/host.h"

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

// relative (UTF-8) with each separator made the host's and one in front dropped, under the root.
std::string UnderRoot(std::string relative) {
  const char separator = HostPathSeparator();
  for (char& c : relative) {
    if (c == '\\' || c == '/') {
      c = separator;
    }
  }
  if (!relative.empty() && relative.front() == separator) {
    relative.erase(0, 1);
  }
  const std::string& root = DeviceRoot();
  if (relative.empty()) {
    return root;
  }
  return !root.empty() && root.back() == separator ? root + relative : root + separator + relative;
}

}  // namespace

bool ChooseDeviceRoot(const char* optionValue, const std::string& programPath, std::string& root) {
  return ChooseDeviceRoot(
      optionValue, [&programPath] { return programPath; }, root);
}

bool ChooseDeviceRoot(const char* optionValue, const std::function<std::string()>& programPath,
                      std::string& root) {
  std::string named;
  if (optionValue != nullptr && *optionValue != '\0') {
    named = optionValue;
  } else {
    named = EnvironmentText("FERROVAN_DEVICE_ROOT");
  }
  // A folder the user names is the user's choice, a volume of its own (a memory card, a small
  // file system) included; only the system's own folders are refused.
  if (!named.empty()) {
    root = AbsoluteHostFolder(named);
    return !IsSystemFolder(root);
  }
  // An installation in the system's own Program Files (X the top of a drive) is no emulated
  // device, nor is a whole volume that merely holds the program: the device then lives in the
  // user's data folder, as for a program anywhere else.
  if (const std::string around = FolderAroundInstallFolder(programPath ? programPath() : "");
      !around.empty()) {
    root = AbsoluteHostFolder(around);
    if (!IsSystemFolder(root) && !IsMountedVolumeTop(root)) {
      return true;
    }
  }
  root = AbsoluteHostFolder(DefaultDeviceRootFolder());
  return true;
}

void SetDeviceRoot(std::string_view hostFolder) {
  // A root set before any use is never chosen from the environment first.
  RootState& state = State();
  std::call_once(state.chosen, [] {});
  state.folder = AbsoluteHostFolder(hostFolder);
}

const std::string& DeviceRoot() {
  // Until start-up sets it, the root is the one the environment names (or the default), so that
  // nothing is ever mapped onto the host's own top folder.
  RootState& state = State();
  std::call_once(state.chosen, [&state] {
    if (!ChooseDeviceRoot(nullptr, std::string(), state.folder)) {
      state.folder = AbsoluteHostFolder(DefaultDeviceRootFolder());
    }
  });
  return state.folder;
}

std::string ToHostPath(std::wstring_view devicePath) {
  return UnderRoot(WideToUtf8(devicePath));
}

// A narrow device path is UTF-8, as host paths are.
std::string ToHostPath(std::string_view devicePath) {
  return UnderRoot(std::string(devicePath));
}

bool CreateSystemFolders() {
  if (DeviceRoot().empty() || !MakeFolderTree(DeviceRoot())) {
    return false;
  }
  // Nothing is made through a link: a run reports such a folder, once it holds the device's
  // lock, as a fault for the user to mend.
  for (const wchar_t* folder :
       {L"Windows", L"Windows\\Desktop", L"Windows\\Programs", L"Windows\\Start Menu",
        L"Windows\\Start Menu\\Programs", L"Program Files", L"Temp"}) {
    if (!HostService<FileService>().IsReachedThroughLink(folder)) {
      MakeFolder(ToHostPath(std::wstring_view(folder)));
    }
  }
  return true;
}

}  // namespace platform
