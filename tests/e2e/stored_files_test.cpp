// What the built loader leaves on a device's storage: links planted on the device are replaced
// rather than written through, and a killed loader leaves no copy that outlives the next run.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tests/e2e/loopback_device.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

const std::string kInstall = "Program Files/FerroVanMobile/";
const std::string kShortcut = "Windows/Start Menu/Programs/Quillmar Transport.lnk";
constexpr const char* kCachePrefix = "ferrovan-cache.";

TEST(StoredFiles, LinksPlantedOnTheDeviceAreReplacedNotWrittenThrough) {
  Device device;
  device.SetPlatformType("PocketPC");
  TempDir elsewhere;
  WriteFile(elsewhere / "shortcut-victim", "precious 1");
  WriteFile(elsewhere / "settings-victim", "precious 2");
  MakeFolders(device.Path(kInstall));
  MakeFolders(device.Path("Windows/Start Menu/Programs"));
  fs::create_symlink(elsewhere / "shortcut-victim", device.Path(kShortcut));
  fs::create_symlink(elsewhere / "settings-victim", device.Path(kInstall + "RFConfig.xml.new"));
  DownloadService service;
  service.Start();

  const RunResult run = device.RunLoader({"-DoNotRunNewLoader"}, service.Address() + "\n");
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_EQ(device.ProgramStarts().size(), 1u) << run.out;

  EXPECT_EQ(ReadFile(elsewhere / "shortcut-victim"), "precious 1");
  EXPECT_EQ(ReadFile(elsewhere / "settings-victim"), "precious 2");
  EXPECT_FALSE(fs::is_symlink(device.Path(kShortcut)));
  EXPECT_EQ(ReadFile(device.Path(kShortcut)),
            "62#\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"");
  EXPECT_FALSE(fs::is_symlink(device.Install("RFConfig.xml")));
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), SettingsFile(service.Address()));

  // Every file in place whole, and no temporary name left anywhere the loader wrote.
  std::vector<std::string> expected = RequiredFiles();
  expected.push_back("RFConfig.xml");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(device.Path(kInstall)), expected);
  for (const std::string& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }
  EXPECT_EQ(FilesIn(device.Path("Windows/Start Menu/Programs")),
            std::vector<std::string>{"Quillmar Transport.lnk"});
  // Temp holds what the downloads keep for the next one to ask about: a hard link of each
  // installed file (no storage of its own) and its record, and nothing else.
  std::vector<std::string> left = FilesIn(device.Path("Temp"));
  EXPECT_EQ(left.size(), 2 * RequiredFiles().size());
  for (const std::string& name : RequiredFiles()) {
    const auto copy = std::find_if(left.begin(), left.end(), [&](const std::string& file) {
      return file.starts_with("ferrovan-kept." + name + ".") && file.ends_with(".copy");
    });
    ASSERT_NE(copy, left.end()) << name;
    EXPECT_TRUE(fs::equivalent(device.Path("Temp/" + *copy), device.Install(name))) << name;
    EXPECT_NE(std::find(left.begin(), left.end(), *copy + ".record"), left.end()) << name;
  }
}

// A device folder that is a link leads out of the device: the run names it and ends in the
// prompt, and neither the clearing nor the sweep of a killed loader's copies reaches its target.
TEST(StoredFiles, ALinkedDeviceFolderIsReportedAndNothingIsDeletedThroughIt) {
  const struct {
    std::string folder;
    std::string shown;
  } cases[] = {{"Program Files/FerroVanMobile", "\\Program Files\\FerroVanMobile"},
               {"Temp", "\\Temp"}};
  for (const auto& linked : cases) {
    SCOPED_TRACE(linked.folder);
    Device device;
    TempDir elsewhere;
    const std::vector<std::string> precious = {"Solvane.Mobile.Common.dll",
                                               std::string(kCachePrefix) + "abcdefghijkl-x.dll"};
    for (const std::string& name : precious) {
      WriteFile(elsewhere / name, "precious");
    }
    MakeFolders(device.Path("Program Files"));
    MakeFolders(device.Path("Application/FerroVanMobile"));
    fs::remove_all(device.Path(linked.folder));
    fs::create_symlink(elsewhere.Path(), device.Path(linked.folder));
    // Nothing listens there: the first installation's clearing would be followed by a failure.
    device.WriteSettings("Application/FerroVanMobile", "127.0.0.1:1");

    const RunResult run = device.RunLoader({}, "");
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("A device folder is a link:\n" + linked.shown + "\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Server address [127.0.0.1:1]: "), std::string::npos) << run.out;
    EXPECT_EQ(FilesIn(elsewhere.Path()), precious);
    EXPECT_TRUE(device.ProgramStarts().empty());
  }
}

// A client file arrives without a name until it is whole and checked: a loader killed in its
// download leaves nothing behind. The copies a killed loader of another build or file system left
// in Temp go with the next run, unless a live download holds one.
TEST(StoredFiles, AKilledLoaderLeavesNoCopyAndTheNextRunSweepsAbandonedOnes) {
  Device device;
  DownloadService service({"--silent", kClientLibraries[0]});
  service.Start();
  device.WriteSettings(kInstall, service.Address());
  const std::vector<std::string> installed = FilesIn(device.Path(kInstall));

  // The first file never arrives: the loader sits in its download with the copy open.
  RunOptions options;
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  auto killed = std::make_unique<BackgroundProcess>(
      FERROVAN_LOADER_PATH,
      std::vector<std::string>{"--device-root", device.Root(), "--ui", "console",
                               "-DoNotRunNewLoader"},
      options);
  ASSERT_TRUE(WaitUntil([&] {
    const std::vector<std::string> requests = service.Requests();
    return std::any_of(requests.begin(), requests.end(),
                       [](const std::string& path) { return path.ends_with(kClientLibraries[0]); });
  }));
  killed.reset();
  EXPECT_TRUE(FilesIn(device.Path("Temp")).empty());
  EXPECT_EQ(FilesIn(device.Path(kInstall)), installed);

  // An abandoned copy, and one that a live download is writing, as this test process holds it.
  const std::string abandoned = std::string(kCachePrefix) + "abandonedcpy-x.dll";
  WriteFile(device.Path("Temp/" + abandoned), "partial");
  const std::string live = std::string(kCachePrefix) + "livedownload-x.dll";
  WriteFile(device.Path("Temp/" + live), "partial");
  const int held = open(device.Path("Temp/" + live).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  WriteFile(device.Path("Temp/other.tmp"), "not the loader's");

  // Nothing listens on port 1: the next run fails its download and ends at the prompt.
  device.WriteSettings(kInstall, "127.0.0.1:1");
  const RunResult next = device.RunLoader({"-DoNotRunNewLoader"});
  EXPECT_EQ(next.exitStatus, 0);
  EXPECT_EQ(FilesIn(device.Path("Temp")), (std::vector<std::string>{live, "other.tmp"}));
  close(held);
}

}  // namespace
}  // namespace testing_support
