// Several emulated devices on one host, and the programs running on them, driven through the
// built loader.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/e2e/loopback_device.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

// The client's program name running on a device twice: a program file in the install folder
// and a script elsewhere on the device. Both say "ready" once running and end with status 0 as
// soon as the go file exists, so that a client that was stopped is told by its status.
class RunningClients {
 public:
  RunningClients(const std::string& root, const std::string& goFile) {
    const std::string program = root + "/Program Files/FerroVanMobile/" + kClientExe;
    const std::string script = root + "/Program Files/Tools/" + kClientExe;
    MakeFolders(root + "/Program Files/FerroVanMobile");
    fs::copy_file("/bin/sh", program, fs::copy_options::overwrite_existing);
    WriteFile(script, "#!/bin/sh\necho ready\nwhile [ ! -e \"$1\" ]; do sleep 0.05; done\n");
    fs::permissions(script, fs::perms(0755));
    const std::string loop = "echo ready; while [ ! -e '" + goFile + "' ]; do sleep 0.05; done";
    clients_.push_back(
        std::make_unique<BackgroundProcess>(program, std::vector<std::string>{"-c", loop}));
    clients_.push_back(
        std::make_unique<BackgroundProcess>(script, std::vector<std::string>{goFile}));
    for (auto& client : clients_) {
      if (client->ReadLine() != "ready") {
        throw std::runtime_error("a client did not start");
      }
    }
  }

  // The exit status of each, once the go file exists.
  std::vector<int> Statuses() {
    std::vector<int> statuses;
    for (auto& client : clients_) {
      statuses.push_back(client->Wait());
    }
    return statuses;
  }

 private:
  std::vector<std::unique_ptr<BackgroundProcess>> clients_;
};

RunResult RunLoaderOn(const std::string& root, const std::vector<std::string>& flags) {
  std::vector<std::string> args = {"--device-root", root, "--ui", "console"};
  args.insert(args.end(), flags.begin(), flags.end());
  RunOptions options;
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  options.timeout = std::chrono::seconds(120);
  return Run(FERROVAN_LOADER_PATH, args, options);
}

class TwoDevices : public ::testing::TestWithParam<bool> {};

TEST_P(TwoDevices, ForcedUpgradeStopsOnlyTheClientsOfItsOwnDevice) {
  const bool throughLink = GetParam();
  Device a;
  Device b;
  DownloadService service;
  service.Start();
  a.WriteSettings("Program Files/FerroVanMobile", service.Address());
  b.WriteSettings("Program Files/FerroVanMobile", service.Address());
  TempDir scratch;
  const std::string go = scratch / "go";
  // The loader and the clients may reach a device through a link to its folder.
  const std::string rootA = throughLink ? scratch / "device-a" : a.Root();
  if (throughLink) {
    fs::create_directory_symlink(a.Root(), rootA);
  }
  RunningClients onA(rootA, go);
  RunningClients onB(b.Root(), go);

  const RunResult run = RunLoaderOn(rootA, {"-ForceToUpgrade", "-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Clearing folders\n")) << run.out;
  WriteFile(go, "");
  EXPECT_EQ(onA.Statuses(), (std::vector<int>{128 + SIGKILL, 128 + SIGKILL}));
  EXPECT_EQ(onB.Statuses(), (std::vector<int>{0, 0}));
  EXPECT_TRUE(ReadFile(b.Install(kClientExe)) == ReadFile("/bin/sh")) << "device B was touched";
  EXPECT_EQ(a.ProgramStarts().size(), 1u) << "the new client started on device A";
}

INSTANTIATE_TEST_SUITE_P(RootSpellings, TwoDevices, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "ThroughALink" : "Canonical";
                         });

TEST(HandOver, KeepsTheRunningNewestLoaderAndGivesTheClientNoConnection) {
  Device device;
  DownloadService service;
  // This client writes down the descriptors it was started with.
  WriteFile(service.File(kClientExe),
            "#!/bin/sh\nls -l /proc/$$/fd > \"$FERROVAN_DEVICE_ROOT/client-descriptors.txt\"\n");
  service.Start();

  const RunResult run = device.RunLoader({}, service.Address() + "\n");
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  // The newest loader cleared the install folder while it ran from it.
  EXPECT_TRUE(ReadFile(device.Install(kNewLoaderExe)) == ReadFile(service.File(kLoaderExe)))
      << kNewLoaderExe << " is gone or differs";
  const std::string descriptors = ReadFile(device.Path("client-descriptors.txt"));
  ASSERT_TRUE(Contains(descriptors, " 0 -> ")) << run.out;
  EXPECT_FALSE(Contains(descriptors, "socket:")) << descriptors;
}

}  // namespace
}  // namespace testing_support
