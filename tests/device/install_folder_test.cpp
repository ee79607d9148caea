#include "device/install_folder.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/device/device_fixture.h"

namespace {

using testing_support::Exists;
using testing_support::WriteFile;

class InstallFolderTest : public testing_support::DeviceTest {
 protected:
  testing_support::FakeProcesses processes;
  platform::ScopedService<platform::ProcessService> guard{processes};
};

TEST_F(InstallFolderTest, StopsEveryInstanceOfTheClientOnly) {
  processes.AddProcess(10, L"Solvane.FerroVan.Mobile.Client.exe");
  processes.AddProcess(11, L"solvane.ferrovan.mobile.client.exe");
  processes.AddProcess(12, L"FerroVan.Mobile.Client.Load.exe");
  processes.AddProcess(13, L"Solvane.FerroVan.Mobile.Client.exe");
  processes.AddProcess(14, L"Solvane.FerroVan.Mobile.Client.exe.bak");
  StopRunningClient(&context);
  EXPECT_EQ(processes.terminated, (std::vector<std::uint32_t>{10, 13}));
}

TEST_F(InstallFolderTest, KeepsOnlyTheLoaderTheSettingsAndSubfolders) {
  for (const char* name : {"FerroVan.Mobile.Client.Load.exe", "FerroVan.Mobile.Client.Load.New.exe",
                           "RFConfig.xml", "rfconfig.xml", "RFConfig.xml.new",
                           "Solvane.Mobile.Common.dll", "noext", "sub/inner.dll"}) {
    WriteFile(Install(name), "x");
  }
  processes.AddProcess(7, L"Solvane.FerroVan.Mobile.Client.exe");
  std::size_t textsAtTermination = 99;
  processes.onTerminate = [&](std::uint32_t) { textsAtTermination = StatusTexts().size(); };

  EXPECT_TRUE(ClearInstallFolder(&context));
  EXPECT_EQ(Names(Install("")),
            (std::vector<std::string>{"FerroVan.Mobile.Client.Load.exe", "RFConfig.xml", "sub"}));
  EXPECT_TRUE(Exists(Install("sub/inner.dll")));
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(textsAtTermination, 0u);
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{L"Clearing folders"});
}

TEST_F(InstallFolderTest, ClearsWithoutASnapshotAndWithoutAFolder) {
  WriteFile(Install("a.dll"), "x");
  EXPECT_TRUE(ClearInstallFolder(&context));
  EXPECT_TRUE(Names(Install("")).empty());

  std::filesystem::remove_all(Install(""));
  EXPECT_TRUE(ClearInstallFolder(&context));
}

}  // namespace
