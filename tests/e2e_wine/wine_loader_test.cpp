// The Windows loader end to end under Wine: ferrovan-loader.exe with the console front end on an
// emulated device in a temporary folder, against the Linux download service on 127.0.0.1,
// serving the Windows loader and the Windows demo client as the client.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/loopback_device.h"
#include "tests/support/required_tools.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

constexpr const char* kShortcutText =
    "62#\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string WindowsBuild() {
  return Environment("FERROVAN_WINDOWS_BUILD_DIR");
}
std::string LoaderExe() {
  return WindowsBuild() + "/ferrovan-loader.exe";
}
std::string DemoClientExe() {
  return WindowsBuild() + "/ferrovan-demo-client.exe";
}

bool OnPath(const std::string& program) {
  std::string path = Environment("PATH");
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    end = end == std::string::npos ? path.size() : end;
    if (end > start && access((path.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

// What these tests lack, with where it comes from; empty when they can run.
std::string Missing() {
  if (!OnPath("wineserver") || (!OnPath("wine64") && !OnPath("wine")))
    return "Wine (Debian packages wine, wine64)";
  if (WindowsBuild().empty() || !fs::is_regular_file(LoaderExe()) ||
      !fs::is_regular_file(DemoClientExe()))
    return "the Windows build (scripts/build-windows.sh; FERROVAN_WINDOWS_BUILD_DIR names it)";
  if (Environment("FERROVAN_WINEPREFIX").empty())
    return "a Wine prefix (FERROVAN_WINEPREFIX, made by scripts/test.sh)";
  return "";
}

// A host path as Wine's Windows programs see it: the Z: drive is the host's root.
std::string WinePath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Windows compares paths without regard to case or to a closing separator.
bool SameWindowsPath(std::string a, std::string b) {
  for (std::string* path : {&a, &b}) {
    std::replace(path->begin(), path->end(), '/', '\\');
    while (path->size() > 3 && path->back() == '\\')
      path->pop_back();
    std::transform(path->begin(), path->end(), path->begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }
  return a == b;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Wine writes a Windows program's command line as its process's. True once no process names
// the device root there: the loaders and the programs they started on it have all ended.
bool NoProgramRunsOn(const std::string& root) {
  const std::string windowsRoot = Lower(WinePath(root));
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    std::string text = ReadFile((entry.path() / "cmdline").string());
    std::replace(text.begin(), text.end(), '\0', ' ');
    text = Lower(text);
    if (text.find(windowsRoot) != std::string::npos || text.find(Lower(root)) != std::string::npos)
      return false;
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> WineEnvironment() {
  return {{"FERROVAN_WINEPREFIX", Environment("FERROVAN_WINEPREFIX")}};
}

// Runs the Windows loader on device with the console front end and waits for it and everything
// it started to end. Line ends come back as "\n" whichever the host wrote.
RunResult RunWineLoader(const Device& device, const std::vector<std::string>& flags,
                        const std::string& input = "") {
  std::vector<std::string> args = {LoaderExe(), "--device-root", WinePath(device.Root()), "--ui",
                                   "console"};
  args.insert(args.end(), flags.begin(), flags.end());
  RunOptions options;
  options.input = input;
  options.env = WineEnvironment();
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  options.timeout = std::chrono::seconds(150);
  RunResult result = Run(FERROVAN_WINE_RUNNER, args, options);
  EXPECT_TRUE(WaitUntil([&] { return NoProgramRunsOn(device.Root()); }, std::chrono::seconds(60)))
      << "programs still run on the device";
  for (std::string* text : {&result.out, &result.err}) {
    std::string plain;
    for (std::size_t i = 0; i < text->size(); ++i) {
      if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n'))
        plain += (*text)[i];
    }
    *text = plain;
  }
  return result;
}

// The download service with the Windows programs as the newest loader and the client.
class WineDownloads {
 public:
  explicit WineDownloads(const std::vector<std::string>& switches = {}) : switches_(switches) {
    fs::copy_file(LoaderExe(), folder_ / kLoaderExe);
    fs::copy_file(DemoClientExe(), folder_ / kClientExe);
    for (const char* library : kClientLibraries)
      WriteFile(folder_ / library, std::string(30000, library[10]) + library);
  }
  std::string File(const std::string& name) const { return folder_ / name; }
  const std::string& Address() const { return address_; }
  void Start() {
    std::vector<std::string> args = {"--folder", folder_.Path(), "--port", "0"};
    args.insert(args.end(), switches_.begin(), switches_.end());
    std::string origin;
    process_ = StartDownloadService(args, origin);
    address_ = origin.substr(origin.find("//") + 2);
  }

 private:
  TempDir folder_;
  std::vector<std::string> switches_;
  std::unique_ptr<BackgroundProcess> process_;
  std::string address_;
};

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Prompt(const std::string& text) {
  return "Server address [" + text + "]: \n";
}

// Checks one start recorded by the demo client: program name, then working folder and device
// root (both the device root), then the arguments.
void ExpectStart(const std::vector<std::string>& start, const Device& device,
                 const std::string& program, const std::vector<std::string>& args) {
  ASSERT_GE(start.size(), 3u);
  EXPECT_EQ(start[0], program);
  EXPECT_TRUE(SameWindowsPath(start[1], WinePath(device.Root()))) << start[1];
  EXPECT_TRUE(SameWindowsPath(start[2], WinePath(device.Root()))) << start[2];
  EXPECT_EQ(std::vector<std::string>(start.begin() + 3, start.end()), args);
}

// A device that knows the server and holds the client's files as served.
void InstallFrom(Device& device, const WineDownloads& service) {
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  for (const auto& name : RequiredFiles())
    device.InstallCopy(service.File(name), name);
}

class WineLoader : public ::testing::Test {
 protected:
  void SetUp() override { FERROVAN_SKIP_WHEN_MISSING(Missing()); }
  void TearDown() override { StopAndReapChildren(); }
};

TEST_F(WineLoader, FirstInstallationHandsOverAndEndsInTheClientThenEverydayStartsAreDirect) {
  Device device;
  WineDownloads service;
  service.Start();

  RunResult first = RunWineLoader(device, {}, service.Address() + "\n");
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_TRUE(Contains(first.out, "Enter URL\n" + Prompt(""))) << first.out;
  EXPECT_TRUE(Contains(first.out, std::string(kLoaderExe) + "\nDownloaded ")) << first.out;
  for (const auto& name : RequiredFiles())
    EXPECT_TRUE(Contains(first.out, name + "\nDownloaded ")) << name << "\n" << first.out;

  auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u) << first.out << first.err;
  ExpectStart(starts[0], device, kClientExe, {"-NewLoader"});

  std::vector<std::string> expected = RequiredFiles();
  expected.push_back("RFConfig.xml");
  expected.push_back("FerroVan.Mobile.Client.Load.New.exe");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(device.Install("")), expected);
  for (const auto& name : RequiredFiles())
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  EXPECT_EQ(ReadFile(device.Install("FerroVan.Mobile.Client.Load.New.exe")),
            ReadFile(service.File(kLoaderExe)));
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), SettingsFile(service.Address()));
  EXPECT_EQ(ReadFile(device.Path("Windows/Start Menu/Programs/Quillmar Transport.lnk")),
            kShortcutText);

  RunResult second = RunWineLoader(device, {});
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_FALSE(Contains(second.out, "Downloaded")) << second.out;
  starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 2u) << second.out << second.err;
  ExpectStart(starts[1], device, kClientExe, {"-NewLoader"});
}

TEST_F(WineLoader, ForcedUpgradeStopsTheRunningClientAndFetchesEverythingAnew) {
  Device device;
  WineDownloads service;
  service.Start();
  InstallFrom(device, service);
  for (const char* library : kClientLibraries)
    WriteFile(device.Install(library), "old");

  // The client in use: it would stay two minutes.
  RunOptions options;
  options.env = WineEnvironment();
  options.env.emplace_back("FERROVAN_DEMO_CLIENT_STAY", "120");
  options.env.emplace_back("FERROVAN_DEVICE_ROOT", WinePath(device.Root()));
  options.workingFolder = device.Root();
  BackgroundProcess client(FERROVAN_WINE_RUNNER, {device.Install(kClientExe)}, options);
  ASSERT_TRUE(
      WaitUntil([&] { return device.ProgramStarts().size() == 1; }, std::chrono::seconds(60)));

  RunResult run = RunWineLoader(device, {"-ForceToUpgrade", "-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  const int clientEnd = client.Wait(std::chrono::seconds(30));
  EXPECT_NE(clientEnd, -1) << "the running client was not stopped";
  EXPECT_NE(clientEnd, 0) << "the running client ended by itself";
  EXPECT_TRUE(Contains(run.out, "Clearing folders\n")) << run.out;
  for (const auto& name : RequiredFiles())
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 2u) << run.out << run.err;
  ExpectStart(starts[1], device, kClientExe, {"-NewLoader"});
}

struct PackageCase {
  const char* platformType;
  std::string package;
};

class WineMessagePackage : public WineLoader, public ::testing::WithParamInterface<PackageCase> {};

TEST_P(WineMessagePackage, IsHandedToTheInstallerWithItsExactParametersThenDeleted) {
  WineDownloads service;
  WriteFile(service.File("NETCFv35.Messages.EN.cab"), "plain package");
  WriteFile(service.File("NETCFv35.Messages.EN.wm.cab"), "mobile package");
  service.Start();
  Device device;
  device.SetPlatformType(GetParam().platformType);
  InstallFrom(device, service);
  MakeFolders(device.Path("Windows"));
  fs::copy_file(DemoClientExe(), device.Path("Windows/WCELOAD.EXE"));

  RunResult run = RunWineLoader(device, {"-InstallCF35MessagesEN"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, "Downloading CF 3.5 EN Messages package\n")) << run.out;
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 2u) << run.out << run.err;
  ExpectStart(starts[0], device, "WCELOAD.EXE",
              {"/delete", "0", "/noui", "Program Files\\FerroVanMobile\\" + GetParam().package});
  ExpectStart(starts[1], device, kClientExe, {"-NewLoader"});
  EXPECT_FALSE(Exists(device.Install(GetParam().package)));
}

INSTANTIATE_TEST_SUITE_P(PlatformKinds, WineMessagePackage,
                         ::testing::Values(PackageCase{"PocketPC", "NETCFv35.Messages.EN.wm.cab"},
                                           PackageCase{"CEPC", "NETCFv35.Messages.EN.cab"}));

TEST_F(WineLoader, AFileMissingOnTheServerEndsInThePromptWithItsName) {
  Device device;
  WineDownloads service({"--missing", kClientLibraries[1]});
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  RunResult run = RunWineLoader(device, {"-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, std::string("Unable to download file: \n") + kClientLibraries[1] +
                                    "\n" + Prompt(service.Address() + "/")))
      << run.out;
  const auto required = RequiredFiles();
  EXPECT_EQ(ReadFile(device.Install(required[1])), ReadFile(service.File(required[1])));
  EXPECT_FALSE(Exists(device.Install(required[2])));
  EXPECT_TRUE(device.ProgramStarts().empty());
}

struct Unreachable {
  std::vector<std::string> flags;
  std::string status;
};

class WineUnreachableServer : public WineLoader,
                              public ::testing::WithParamInterface<Unreachable> {};

TEST_P(WineUnreachableServer, EndsInThePromptWithTheAddressAsBuilt) {
  Device device;
  device.WriteSettings("Program Files/FerroVanMobile", "127.0.0.1:1");
  RunResult run = RunWineLoader(device, GetParam().flags);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, GetParam().status + Prompt("127.0.0.1:1/"))) << run.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    WithAndWithoutHandOver, WineUnreachableServer,
    ::testing::Values(
        Unreachable{{"-DoNotRunNewLoader"},
                    "Error connecting to server.\nPlease check the Url or network connectivity.\n"},
        Unreachable{{},
                    "Unable to download the latest loader.\nPlease check your connection "
                    "settings.\n"}));

}  // namespace
}  // namespace testing_support
