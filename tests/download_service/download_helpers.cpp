#include "tests/download_service/download_helpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "platform/device_root.h"
#include "platform/host.h"
#include "tests/e2e/loopback_device.h"

namespace download_testing {

Service::Service(const std::string& folder, std::vector<std::string> switches) {
  switches.insert(switches.begin(), {"--folder", folder});
  std::string origin;
  process_ = testing_support::StartDownloadService(switches, origin);
  base_ = origin + "/FerroVanService/WebService/Downloads/";
}

std::wstring Service::Url(const std::string& name) const {
  return Wide(base_ + name);
}

Device::Device() {
  // The tests' requests go straight to 127.0.0.1 even where a proxy is configured.
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  platform::SetDeviceRoot(folder_.Path());
  if (!platform::CreateSystemFolders()) {
    throw std::runtime_error("cannot create the device's folders");
  }
}

std::string Device::Host(const std::wstring& devicePath) const {
  return platform::ToHostPath(devicePath);
}

std::vector<std::string> Device::TempFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_ / "Temp")) {
    const std::string name = entry.path().filename().string();
    // What the downloads keep on purpose; a link left half made is no such thing.
    if (!name.starts_with("ferrovan-kept.") || name.ends_with(".new")) {
      names.push_back(name);
    }
  }
  return names;
}

void Device::ClearTemp() const {
  for (const auto& entry : std::filesystem::directory_iterator(folder_ / "Temp")) {
    std::filesystem::remove_all(entry.path());
  }
}

std::wstring Wide(const std::string& text) {
  return platform::Utf8ToWide(text);
}

std::string PseudoRandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() & 0xFF);
  }
  return bytes;
}

unsigned ExpectedFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0777u & ~static_cast<unsigned>(mask);
}

unsigned ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<unsigned>(info.st_mode & 07777) : 0;
}

}  // namespace download_testing
