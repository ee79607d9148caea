#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/common/device_root.h"
#include "platform/device_root.h"
#include "platform/linux/utf8.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string MakeAbsolute(std::string_view folder) {
  // An empty text names the current folder, never the host's top folder.
  const fs::path given = folder.empty() ? fs::path(".") : fs::path(folder);
  std::error_code error;
  fs::path path = fs::absolute(given, error);
  if (error) {
    path = given;
  }
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

// An empty variable counts as unset, as shells and the XDG rules treat it.
const char* Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string HomeFolder() {
  if (const char* home = Variable("HOME")) {
    return home;
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return ".";
}

std::string DataHome() {
  // The XDG rules ignore a relative XDG_DATA_HOME.
  const char* dataHome = Variable("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') {
    return dataHome;
  }
  return HomeFolder() + "/.local/share";
}

// The root of the device when the program file stands in ROOT/Program Files/FerroVanMobile/;
// empty otherwise.
std::string RootAroundProgram(const std::string& programPath) {
  if (programPath.empty()) {
    return {};
  }
  const fs::path installFolder = fs::path(MakeAbsolute(programPath)).parent_path();
  const fs::path programFiles = installFolder.parent_path();
  if (installFolder.filename() != "FerroVanMobile" || programFiles.filename() != "Program Files") {
    return {};
  }
  return programFiles.parent_path().string();
}

template <class Char>
std::string Join(std::basic_string_view<Char> devicePath) {
  if (!devicePath.empty() && devicePath.front() == Char('\\')) {
    devicePath.remove_prefix(1);
  }
  std::string relative;
  if constexpr (sizeof(Char) == 1) {
    relative.assign(devicePath);
  } else {
    relative = ToUtf8(devicePath);
  }
  for (char& c : relative) {
    if (c == '\\') {
      c = '/';
    }
  }
  const std::string& root = DeviceRoot();
  if (relative.empty()) {
    return root;
  }
  return root == "/" ? root + relative : root + "/" + relative;
}

}  // namespace

std::string ChooseDeviceRoot(const char* optionValue, const std::string& programPath) {
  if (optionValue != nullptr && *optionValue != '\0') {
    return MakeAbsolute(optionValue);
  }
  if (const char* fromEnvironment = Variable("FERROVAN_DEVICE_ROOT")) {
    return MakeAbsolute(fromEnvironment);
  }
  if (std::string around = RootAroundProgram(programPath); !around.empty()) {
    return MakeAbsolute(around);
  }
  return MakeAbsolute(DataHome() + "/ferrovan/device");
}

std::string AbsoluteHostFolder(std::string_view folder) {
  return MakeAbsolute(folder);
}

std::string ToHostPath(std::wstring_view devicePath) {
  return Join(devicePath);
}

std::string ToHostPath(std::string_view devicePath) {
  return Join(devicePath);
}

bool CreateSystemFolders() {
  std::error_code error;
  fs::create_directories(DeviceRoot(), error);
  if (error || !fs::is_directory(DeviceRoot(), error)) {
    return false;
  }
  for (const char* folder : {"Windows", "Windows/Desktop", "Windows/Programs",
                             "Windows/Start Menu/Programs", "Program Files", "Temp"}) {
    fs::create_directories(fs::path(DeviceRoot()) / folder, error);
  }
  return true;
}

}  // namespace platform
