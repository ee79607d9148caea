// An emulated device in a temporary folder and a download service on loopback, for tests that
// drive the built loader as a user would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

inline const char* const kClientLibraries[] = {
    "Solvane.Mobile.Common.dll", "Solvane.Ferrovan.Mobile.Client.Business.dll",
    "Solvane.Ferrovan.Mobile.Client.Common.dll", "Solvane.Ferrovan.Mobile.Client.Data.dll",
    "Solvane.Ferrovan.Mobile.GUI.dll"};
inline constexpr const char* kClientExe = "Solvane.FerroVan.Mobile.Client.exe";
inline constexpr const char* kLoaderExe = "FerroVan.Mobile.Client.Load.exe";
inline constexpr const char* kNewLoaderExe = "FerroVan.Mobile.Client.Load.New.exe";
// The loader's shortcut as the device's shell writes it.
inline constexpr const char* kShortcutText =
    "62#\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"";

// The six client files in list order.
std::vector<std::string> RequiredFiles();

// A settings file as the loader writes it.
std::string SettingsFile(const std::string& address);

class Device {
 public:
  Device();
  const std::string& Root() const { return root_.Path(); }
  std::string Path(const std::string& relative) const { return root_ / relative; }
  std::string Install(const std::string& name) const;
  void SetPlatformType(const std::string& type);
  void WriteSettings(const std::string& folder, const std::string& address);
  // Copies source into the install folder as name.
  void InstallCopy(const std::string& source, const std::string& name);
  // The demo client, five small library files and the Start menu's shortcut, as a finished
  // installation leaves them on a device that cannot tell its kind.
  void InstallClient();
  // Puts the demo client in place as the device's package installer.
  void AddPackageInstaller();
  // From now on, RunLoader runs this loader program instead of the host's own.
  void UseLoader(const std::string& program) { loader_ = program; }
  // Runs the host's loader on this device with the console front end and waits for it and
  // everything it started to end.
  RunResult RunLoader(const std::vector<std::string>& flags, const std::string& input = "",
                      std::vector<std::pair<std::string, std::string>> env = {});
  // Starts recorded by the demo client: program name, working folder, device root, arguments.
  std::vector<std::vector<std::string>> ProgramStarts() const;

 private:
  TempDir root_;
  std::string loader_;
};

// Starts the built download service with args and waits until it listens; origin receives
// "http://127.0.0.1:PORT" (or https). Throws when it does not start.
std::unique_ptr<BackgroundProcess> StartDownloadService(const std::vector<std::string>& args,
                                                        std::string& origin);

// A download service on 127.0.0.1 serving a folder that holds the host's newest loader, its demo
// client and five library files (of libraryBytes bytes each).
class DownloadService {
 public:
  // loaderProgram, when given, is served as the newest loader instead of the host's own.
  explicit DownloadService(const std::vector<std::string>& switches = {},
                           std::size_t libraryBytes = 20000, const std::string& loaderProgram = "");
  // Starts serving; call after adjusting Folder().
  void Start();
  const std::string& Folder() const { return folder_.Path(); }
  std::string File(const std::string& name) const { return folder_ / name; }
  // "127.0.0.1:PORT"
  const std::string& Address() const { return address_; }
  // The paths asked for so far, in the order the requests arrived, answered or not.
  std::vector<std::string> Requests() const;

 private:
  TempDir folder_;
  TempDir log_;
  std::vector<std::string> switches_;
  std::unique_ptr<BackgroundProcess> process_;
  std::string address_;
};

// Lines of text with the console's line breaks, for comparing status output.
bool Contains(const std::string& text, const std::string& part);
// The console's address prompt holding text, on a pipe.
std::string Prompt(const std::string& text);
// The names in a folder, sorted; none when it is missing.
std::vector<std::string> FilesIn(const std::string& folder);
// The download copies in the device's Temp folder.
std::vector<std::string> CacheCopies(const Device& device);

}  // namespace testing_support
