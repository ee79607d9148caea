// Power cuts at every step of the loader's work that changes storage: the device root lives on a
// file system of the test's own (storage_fs.cpp) that keeps only what was flushed, loses power
// at one chosen operation, and hands back what storage kept. The loader is then started again on
// that, as the user would after putting in a new battery, and the device must come back whole.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/loopback_device.h"
#include "tests/support/demo_client_log.h"
#include "tests/support/required_tools.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

const std::string kInstall = "Program Files/FerroVanMobile/";
const std::string kShortcut = "Windows/Start Menu/Programs/Quillmar Transport.lnk";

std::string MissingForMounts() {
  if (!fs::exists("/dev/fuse")) {
    return "the FUSE device /dev/fuse";
  }
  if (!fs::exists("/usr/bin/fusermount3")) {
    return "fusermount3 (Debian package fuse3)";
  }
  return "";
}

// Storage mounted at a folder for one run, with the cut at one operation (or none).
class CutStorage {
 public:
  CutStorage(const std::string& image, const std::string& work, const std::string& cut,
             bool ignoreFileFlushes)
      : mount_(work + "/mnt"), out_(work + "/out") {
    fs::create_directories(mount_);
    fs::create_directories(out_);
    std::vector<std::string> args = {image, mount_, out_};
    if (!cut.empty()) {
      args.insert(args.end(), {"--cut", cut});
    }
    if (ignoreFileFlushes) {
      args.push_back("--ignore-file-flushes");
    }
    process_ = std::make_unique<BackgroundProcess>(FERROVAN_POWERCUT_FS, args);
    ready_ = process_->ReadLine() == "ready";
  }
  ~CutStorage() { Unmount(); }
  bool Ready() const { return ready_; }
  std::string Root() const { return mount_ + "/device"; }

  // Unmounts and waits for the file system to write what storage kept.
  void Unmount() {
    if (!process_) {
      return;
    }
    Run("/usr/bin/fusermount3", {"-u", "-z", mount_});
    process_->Wait();
    process_.reset();
  }
  // What the cut came before ("end": the run ended first); the kept device roots by model.
  std::string Cut() const {
    std::string text = Exists(out_ + "/cut") ? ReadFile(out_ + "/cut") : "";
    return text.empty() ? text : text.substr(0, text.size() - 1);
  }
  std::string Kept(const std::string& model) const { return out_ + "/" + model + "/device"; }
  // Whether the loader had stored the settings file before the cut: moved into place and its
  // folder flushed, so that the loader went on as if the address were safe.
  bool SettingsStored() const {
    std::istringstream ops(Exists(out_ + "/ops") ? ReadFile(out_ + "/ops") : "");
    bool moved = false;
    for (std::string line; std::getline(ops, line);) {
      if (line.find(" rename ") != std::string::npos && line.ends_with("/RFConfig.xml")) {
        moved = true;
      } else if (moved && line.find(" fsync folder ") != std::string::npos) {
        return true;
      }
    }
    return false;
  }
  std::map<std::string, long> Counts() const {
    std::map<std::string, long> counts;
    std::istringstream text(Exists(out_ + "/counts") ? ReadFile(out_ + "/counts") : "");
    std::string kind;
    long count = 0;
    while (text >> kind >> count) {
      counts[kind] = count;
    }
    return counts;
  }

 private:
  std::string mount_;
  std::string out_;
  std::unique_ptr<BackgroundProcess> process_;
  bool ready_ = false;
};

RunResult RunLoaderOn(const std::string& root, const std::vector<std::string>& flags,
                      const std::string& input) {
  std::vector<std::string> args = {"--device-root", root, "--ui", "console"};
  args.insert(args.end(), flags.begin(), flags.end());
  RunOptions options;
  options.input = input;
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  options.timeout = std::chrono::seconds(60);
  return Run(FERROVAN_LOADER_PATH, args, options);
}

// What the device holds before the run.
enum class Before {
  Nothing,       // a fresh device: the address comes from the prompt
  Settings,      // the server's address alone
  OlderRelease,  // a finished installation of an older release
  Installed,     // a finished installation of the served release, by the loader itself, which
                 // keeps the copies that the next download asks the server about
  BrokenPart,    // an installation that the link broke off, leaving the part of the GUI
                 // library that the next download resumes
};

struct Scenario {
  std::vector<std::string> flags;
  Before before;
};

class PowerCut : public ::testing::Test {
 protected:
  PowerCut() = default;
  explicit PowerCut(const std::vector<std::string>& switches) : service_(switches) {}

  void SetUp() override {
    FERROVAN_SKIP_WHEN_MISSING(MissingForMounts());
    service_.Start();
  }

  void PrepareImage(const Scenario& scenario) {
    const std::string root = image_ / "device";
    MakeFolders(root);
    if (scenario.before == Before::Nothing) {
      return;
    }
    MakeFolders(root + "/" + kInstall);
    WriteFile(root + "/" + kInstall + "RFConfig.xml", SettingsFile(service_.Address()));
    if (scenario.before == Before::Settings) {
      return;
    }
    if (scenario.before == Before::BrokenPart || scenario.before == Before::Installed) {
      // The run that leaves what the next one takes: a kept part of the GUI library, or a kept
      // copy of the client.
      const bool broken = scenario.before == Before::BrokenPart;
      const RunResult run = RunLoaderOn(root, {"-DoNotRunNewLoader"}, "");
      EXPECT_TRUE(Contains(run.out, broken ? "Unable to download file" : "started with"))
          << run.out << run.err;
      const std::string stem =
          std::string("ferrovan-kept.") + (broken ? kClientLibraries[4] : kClientExe) + ".";
      bool kept = false;
      for (const auto& entry : fs::directory_iterator(root + "/Temp")) {
        const std::string name = entry.path().filename().string();
        kept = kept || (name.starts_with(stem) && name.ends_with(broken ? ".part" : ".copy"));
      }
      EXPECT_TRUE(kept) << "the run kept nothing for the next: " << stem;
      fs::remove(root + "/demo-client.log");
      return;
    }
    fs::copy_file(service_.File(kClientExe), root + "/" + kInstall + kClientExe);
    for (const char* library : kClientLibraries) {
      WriteFile(root + "/" + kInstall + library, "an older release");
    }
    MakeFolders(root + "/Windows/Start Menu/Programs");
    WriteFile(root + "/" + kShortcut, kShortcutText);
  }

  std::string Input(const Scenario& scenario) const {
    return scenario.before == Before::Nothing ? service_.Address() + "\n" : "";
  }

  // What is wrong with a device root that storage kept, once the loader has run on it again.
  std::vector<std::string> CheckRecovery(const Scenario& scenario, const std::string& kept,
                                         bool settingsStored) {
    std::vector<std::string> faults;
    const std::string settingsPath = kept + "/" + kInstall + "RFConfig.xml";
    const bool settingsKept = Exists(settingsPath);
    if (settingsStored && !settingsKept) {
      faults.push_back("the stored RFConfig.xml is lost");
    }
    if (settingsKept && ReadFile(settingsPath) != SettingsFile(service_.Address())) {
      faults.push_back("RFConfig.xml is not whole: '" + ReadFile(settingsPath) + "'");
    }

    TempDir device;
    fs::copy(kept, device.Path(), fs::copy_options::recursive);
    fs::remove(device / "demo-client.log");
    const RunResult run = RunLoaderOn(device.Path(), scenario.flags, "");

    bool clientStarted = false;
    for (const auto& start : DemoClientStarts(device.Path())) {
      clientStarted = clientStarted || (!start.empty() && start[0] == kClientExe);
    }
    if (clientStarted) {
      for (const std::string& name : RequiredFiles()) {
        const std::string path = device / (kInstall + name);
        if (!Exists(path) || ReadFile(path) != ReadFile(service_.File(name))) {
          faults.push_back("the client started with " + name + " not as served");
        }
      }
      if (!Exists(device / kShortcut)) {
        faults.push_back("the client started on a device without its shortcut");
      }
    } else if (settingsKept || !Contains(run.out, Prompt(""))) {
      faults.push_back("the restart ended in neither the client nor the first prompt: " + run.out +
                       run.err);
    }
    for (const auto& entry : fs::recursive_directory_iterator(device.Path())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("ferrovan-cache.") || name.ends_with(".tmp")) {
        faults.push_back("left behind: " + entry.path().string().substr(device.Path().size()));
      }
    }
    return faults;
  }

  // Cuts the scenario's run at every change but a data write, at a sample of data writes and
  // after its end; returns every fault found, each with the cut it followed.
  std::vector<std::string> CutEverywhere(const Scenario& scenario, bool ignoreFileFlushes) {
    PrepareImage(scenario);
    std::vector<std::string> cuts = {""};
    {
      TempDir work;
      CutStorage storage(image_.Path(), work.Path(), "", ignoreFileFlushes);
      EXPECT_TRUE(storage.Ready());
      const RunResult run = RunLoaderOn(storage.Root(), scenario.flags, Input(scenario));
      EXPECT_TRUE(Contains(run.out, "started with")) << run.out << run.err;
      storage.Unmount();
      const auto counts = storage.Counts();
      EXPECT_GT(counts.at("meta"), 10);
      for (long meta = 0; meta < counts.at("meta"); ++meta) {
        cuts.push_back("meta:" + std::to_string(meta));
      }
      const long writes = counts.at("write");
      for (long write = 0; write < writes; write += writes / 8 + 1) {
        cuts.push_back("write:" + std::to_string(write));
      }
      std::cout << cuts.size() << " cuts: before each of " << counts.at("meta")
                << " changes but data writes, before " << cuts.size() - counts.at("meta") - 1
                << " of " << writes << " data writes, and after the end\n";
    }

    std::vector<std::string> faults;
    for (const std::string& cut : cuts) {
      TempDir work;
      CutStorage storage(image_.Path(), work.Path(), cut, ignoreFileFlushes);
      EXPECT_TRUE(storage.Ready()) << cut;
      RunLoaderOn(storage.Root(), scenario.flags, Input(scenario));
      storage.Unmount();
      for (const char* model : {"flushed", "folders"}) {
        for (const std::string& fault :
             CheckRecovery(scenario, storage.Kept(model), storage.SettingsStored())) {
          faults.push_back(std::string(model) + ", cut before " + storage.Cut() + ": " + fault);
        }
      }
    }
    return faults;
  }

  DownloadService service_;
  TempDir image_;
};

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

TEST_F(PowerCut, AFirstInstallationFromThePromptComesBackWhole) {
  const auto faults = CutEverywhere({{}, Before::Nothing}, false);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
}

TEST_F(PowerCut, AFirstInstallationInOneProcessComesBackWhole) {
  const auto faults = CutEverywhere({{"-DoNotRunNewLoader"}, Before::Nothing}, false);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
}

TEST_F(PowerCut, AForcedUpgradeComesBackWhole) {
  const auto faults = CutEverywhere({{"-ForceToUpgrade"}, Before::OlderRelease}, false);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
}

// Each file is asked for conditionally and taken from what the last installation kept.
TEST_F(PowerCut, AForcedUpgradeFromKeptCopiesComesBackWhole) {
  const auto faults = CutEverywhere({{"-ForceToUpgrade"}, Before::Installed}, false);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
}

// The link broke each answer for the GUI library (20000 bytes) after 2000 bytes, nine times: more
// than one download resumes, so the first installation ended with a part of it kept, which the
// installation cut here goes on with.
class PowerCutOnABreakingLink : public PowerCut {
 protected:
  PowerCutOnABreakingLink()
      : PowerCut({"--break-every", std::string(kClientLibraries[4]) + ":2000", "--break-count",
                  std::string(kClientLibraries[4]) + ":9"}) {}
};

TEST_F(PowerCutOnABreakingLink, AnInstallationThatResumesAKeptPartComesBackWhole) {
  const auto faults = CutEverywhere({{"-DoNotRunNewLoader"}, Before::BrokenPart}, false);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
}

// The cuts must tell: with file flushes that keep nothing, as for a writer that renames its new
// files into place without flushing them, a restart finds the client's program cut short and
// cannot start it, now or ever.
TEST_F(PowerCut, AWriterThatRenamesWithoutFlushingIsCaught) {
  const auto faults = CutEverywhere({{"-DoNotRunNewLoader"}, Before::Settings}, true);
  const auto found = std::find_if(faults.begin(), faults.end(), [](const std::string& fault) {
    return fault.find(std::string("Could not execute file 'Program Files\\FerroVanMobile\\") +
                      kClientExe) != std::string::npos;
  });
  ASSERT_NE(found, faults.end()) << Lines(faults);
  std::cout << faults.size() << " faults, such as: " << *found << "\n";
}

}  // namespace
}  // namespace testing_support
