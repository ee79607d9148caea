#include "tests/e2e/loopback_device.h"

#include "tests/e2e/loader_host.h"
#include "tests/support/demo_client_log.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace fs = std::filesystem;

std::vector<std::string> RequiredFiles() {
  return {kClientLibraries[0], kClientExe,          kClientLibraries[1],
          kClientLibraries[2], kClientLibraries[3], kClientLibraries[4]};
}

std::string SettingsFile(const std::string& address) {
  return "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>" + address +
         "</WebHostName>\n</Config>\n";
}

Device::Device() = default;

std::string Device::Install(const std::string& name) const {
  return root_ / ("Program Files/FerroVanMobile/" + name);
}

void Device::SetPlatformType(const std::string& type) {
  WriteFile(root_ / "Windows/PlatformType", type + "\n");
}

void Device::WriteSettings(const std::string& folder, const std::string& address) {
  WriteFile(root_ / (folder + "/RFConfig.xml"), SettingsFile(address));
}

void Device::InstallCopy(const std::string& source, const std::string& name) {
  MakeFolders(root_ / "Program Files/FerroVanMobile");
  fs::copy_file(source, Install(name), fs::copy_options::overwrite_existing);
}

void Device::InstallClient() {
  InstallCopy(Host().ClientProgram(), kClientExe);
  for (const char* library : kClientLibraries) {
    WriteFile(Install(library), "library");
  }
  WriteFile(root_ / "Windows/Start Menu/Programs/Quillmar Transport.lnk", kShortcutText);
}

void Device::AddPackageInstaller() {
  MakeFolders(root_ / "Windows");
  fs::copy_file(Host().ClientProgram(), root_ / "Windows/WCELOAD.EXE",
                fs::copy_options::overwrite_existing);
}

RunResult Device::RunLoader(const std::vector<std::string>& flags, const std::string& input,
                            std::vector<std::pair<std::string, std::string>> env) {
  std::vector<std::string> args = {"--device-root", Host().ProgramPath(Root()), "--ui", "console"};
  args.insert(args.end(), flags.begin(), flags.end());
  RunOptions options;
  options.input = input;
  options.env = std::move(env);
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  options.timeout = std::chrono::seconds(150);
  return Host().Run(loader_.empty() ? Host().LoaderProgram() : loader_, args, options, Root());
}

std::vector<std::vector<std::string>> Device::ProgramStarts() const {
  return DemoClientStarts(root_.Path());
}

DownloadService::DownloadService(const std::vector<std::string>& switches, std::size_t libraryBytes,
                                 const std::string& loaderProgram)
    : switches_(switches) {
  fs::copy_file(loaderProgram.empty() ? Host().LoaderProgram() : loaderProgram,
                folder_ / kLoaderExe);
  fs::copy_file(Host().ClientProgram(), folder_ / kClientExe);
  std::mt19937 random(7);
  for (const char* library : kClientLibraries) {
    std::string bytes(libraryBytes, '\0');
    for (auto& byte : bytes) {
      byte = static_cast<char>(random());
    }
    WriteFile(folder_ / library, bytes);
  }
}

// The download service stands for a server, which need not share the device's processor: a
// cross build's tests name this machine's own build of it in FERROVAN_DOWNLOAD_SERVICE (a 32-bit
// build of it cannot announce a length past 4 GiB).
static std::string DownloadServiceProgram() {
  const char* named = std::getenv("FERROVAN_DOWNLOAD_SERVICE");
  return named != nullptr && *named != '\0'
             ? std::string(named)
             : std::string(FERROVAN_BINARY_DIR) + "/ferrovan-download-service";
}

std::unique_ptr<BackgroundProcess> StartDownloadService(const std::vector<std::string>& args,
                                                        std::string& origin) {
  auto process = std::make_unique<BackgroundProcess>(DownloadServiceProgram(), args);
  const std::string line = process->ReadLine();
  const std::string lead = "listening on ";
  if (line.rfind(lead, 0) != 0) {
    throw std::runtime_error("the download service did not start: '" + line + "'");
  }
  origin = line.substr(lead.size());
  return process;
}

void DownloadService::Start() {
  std::vector<std::string> args = {"--folder", Folder(), "--port", "0", "--log", log_ / "requests"};
  args.insert(args.end(), switches_.begin(), switches_.end());
  std::string origin;
  process_ = StartDownloadService(args, origin);
  address_ = origin.substr(origin.find("//") + 2);
}

std::vector<std::string> DownloadService::Requests() const {
  std::vector<std::string> paths;
  std::istringstream log(Exists(log_ / "requests") ? ReadFile(log_ / "requests") : "");
  for (std::string line; std::getline(log, line);) {
    paths.push_back(line.substr(line.find(' ') + 1));
  }
  return paths;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Prompt(const std::string& text) {
  return "Server address [" + text + "]: \n";
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code missing;
  for (const auto& entry : fs::directory_iterator(folder, missing)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> CacheCopies(const Device& device) {
  std::vector<std::string> copies;
  for (const std::string& name : FilesIn(device.Path("Temp"))) {
    if (name.starts_with("ferrovan-cache.")) {
      copies.push_back(name);
    }
  }
  return copies;
}

}  // namespace testing_support
