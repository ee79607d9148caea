// The fixture of the loader's tests: the service fakes in place over a scratch device root.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/service_fakes.h"

namespace loader_test {

using platform::CreateFolderResult;
using testing_support::FakeCom;
using testing_support::FakeDeviceLock;
using testing_support::FakeProcesses;
using testing_support::FakeSystemInfo;
using testing_support::FakeThreads;
using testing_support::RecordingShell;
using testing_support::ScriptedDownloads;
using testing_support::ScriptedFiles;
using testing_support::StartCall;

// The services of a device kept in a scratch root; the settings file stays a real file there.
class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() {
    platform::SetDeviceRoot(root.Path());
    processes.table.emplace();  // no program runs
  }

  std::string InstallFolder() const { return root / "Program Files/FerroVanMobile"; }
  void WriteSettings(const std::string& address) {
    testing_support::WriteFile(InstallFolder() + "/RFConfig.xml",
                               "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>" + address +
                                   "</WebHostName>\n</Config>\n");
  }

  testing_support::TempDir root;
  testing_support::FakeFrontEnd frontEnd;
  ScriptedFiles files;
  FakeProcesses processes;
  ScriptedDownloads downloads;
  RecordingShell shell;
  FakeSystemInfo systemInfo;
  FakeDeviceLock deviceLock{frontEnd};
  FakeCom com{frontEnd};
  platform::ScopedService<platform::DialogFrontEnd> frontEndGuard{frontEnd};
  platform::ScopedService<platform::FileService> filesGuard{files};
  platform::ScopedService<platform::ProcessService> processesGuard{processes};
  platform::ScopedService<platform::DownloadService> downloadsGuard{downloads};
  platform::ScopedService<platform::ShellService> shellGuard{shell};
  platform::ScopedService<platform::SystemInfoService> systemInfoGuard{systemInfo};
  platform::ScopedService<platform::DeviceLockService> deviceLockGuard{deviceLock};
  platform::ScopedService<platform::ComService> comGuard{com};
};

}  // namespace loader_test
