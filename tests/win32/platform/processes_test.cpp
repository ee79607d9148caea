// Processes on Windows: starting a program of the device, the device's process list and
// stopping a program so that its file can go.
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/files.h"
#include "platform/win32/wide_text.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/platform/service_test_support.h"

namespace {

using service_tests::Exists;
using service_tests::HelperProcess;
using service_tests::ReadBytes;
using service_tests::ScopedVariable;
using service_tests::Wide;
using service_tests::WriteBytes;
using testing_support::TempDir;
using testing_support::WaitUntil;

constexpr wchar_t kClient[] = L"Program Files\\FerroVanMobile\\client.exe";

// A device root with the helper installed as its client.
class Device {
 public:
  Device() {
    platform::SetDeviceRoot(folder_.Path());
    platform::CreateSystemFolders();
    CreateDirectoryW(Host(L"Program Files\\FerroVanMobile").c_str(), nullptr);
    installed_ = CopyFileW(service_tests::HelperProgram().c_str(), Host(kClient).c_str(), TRUE);
    root_ = platform::DeviceRoot();
  }
  bool installed() const { return installed_ != FALSE; }
  void Use() const { platform::SetDeviceRoot(root_); }
  std::wstring Host(const wchar_t* devicePath) const {
    return Wide(root_.empty() ? folder_.Path() : root_) + L"\\" + devicePath;
  }
  const std::string& root() const { return root_; }

 private:
  TempDir folder_;
  std::string root_;
  BOOL installed_ = FALSE;
};

// The process ids of the snapshot's entries named name.
std::vector<std::uint32_t> Listed(const wchar_t* name) {
  std::vector<std::uint32_t> ids;
  auto snapshot = platform::Processes().TakeSnapshot();
  platform::ProcessEntry entry{};
  while (snapshot != nullptr && snapshot->Next(entry)) {
    if (std::wstring_view(entry.exeFile) == name) {
      ids.push_back(entry.processId);
    }
  }
  return ids;
}

bool IsListed(std::uint32_t id) {
  for (std::uint32_t listed : Listed(L"client.exe")) {
    if (listed == id) {
      return true;
    }
  }
  return false;
}

bool SameFolder(const std::string& a, const std::string& b) {
  const std::wstring x = Wide(a);
  const std::wstring y = Wide(b);
  return CompareStringOrdinal(x.c_str(), -1, y.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST(Win32ProcessesTest, StartsInTheDeviceRootWithTheParametersAndEnvironment) {
  Device device;
  ASSERT_TRUE(device.installed());
  ScopedVariable root(L"FERROVAN_DEVICE_ROOT", Wide(device.root()).c_str());
  // Waiting means the program has written its record by the time Start returns.
  ASSERT_TRUE(platform::Processes().Start(
      kClient, L"record Temp\\record.txt -NewLoader \"two words\" /noui", true));
  const std::string record = ReadBytes(device.Host(L"Temp\\record.txt"));
  const std::size_t firstLine = record.find('\n');
  ASSERT_NE(firstLine, std::string::npos) << record;
  EXPECT_TRUE(SameFolder(record.substr(0, firstLine), device.root())) << record;
  EXPECT_EQ(record.substr(firstLine + 1), device.root() + "\n-NewLoader\ntwo words\n/noui\n");
}

TEST(Win32ProcessesTest, StartFailsForWhatIsNoProgram) {
  Device device;
  ASSERT_TRUE(WriteBytes(device.Host(L"Program Files\\FerroVanMobile\\broken.exe"), "MZ cut"));
  for (const wchar_t* file :
       {L"Program Files\\FerroVanMobile\\missing.exe", L"\\Windows\\WCELOAD.EXE",
        L"Program Files\\FerroVanMobile\\broken.exe"}) {
    SCOPED_TRACE(platform::WideToUtf8(file));
    EXPECT_FALSE(platform::Processes().Start(file, L"", true));
  }
}

TEST(Win32ProcessesTest, AStartWithoutWaitingReturnsWhileTheProgramRuns) {
  Device device;
  ASSERT_TRUE(device.installed());
  ASSERT_TRUE(platform::Processes().Start(kClient, L"wait Temp\\go", false));
  EXPECT_TRUE(WaitUntil([] { return Listed(L"client.exe").size() == 1; }));
  ASSERT_TRUE(WriteBytes(device.Host(L"Temp\\go"), ""));
  EXPECT_TRUE(WaitUntil([] { return Listed(L"client.exe").empty(); }));
}

TEST(Win32ProcessesTest, TheSnapshotHoldsOnlyThisDevicesPrograms) {
  Device mine;
  Device other;
  ASSERT_TRUE(mine.installed());
  ASSERT_TRUE(other.installed());
  const std::wstring go = mine.Host(L"Temp\\go");
  HelperProcess ours(mine.Host(kClient), L"wait \"" + go + L"\"");
  HelperProcess theirs(other.Host(kClient), L"wait \"" + go + L"\"");
  HelperProcess outside(L"wait \"" + go + L"\"");
  ASSERT_TRUE(ours.started() && theirs.started() && outside.started());

  mine.Use();
  ASSERT_TRUE(WaitUntil([&] { return IsListed(ours.id()); }));
  EXPECT_EQ(Listed(L"client.exe"), std::vector<std::uint32_t>{ours.id()});
  EXPECT_TRUE(Listed(L"service_helper.exe").empty()) << "a program outside every device";

  other.Use();
  EXPECT_EQ(Listed(L"client.exe"), std::vector<std::uint32_t>{theirs.id()});
  WriteBytes(go, "");
}

TEST(Win32ProcessesTest, TerminateFreesTheRunningProgramsFile) {
  Device device;
  ASSERT_TRUE(device.installed());
  HelperProcess client(device.Host(kClient), L"wait \"" + device.Host(L"Temp\\go") + L"\"");
  ASSERT_TRUE(client.started());
  ASSERT_TRUE(WaitUntil([&] { return IsListed(client.id()); }));

  EXPECT_FALSE(platform::Files().DeleteFile(kClient)) << "the file of a running program";
  EXPECT_TRUE(Exists(device.Host(kClient)));
  ASSERT_TRUE(platform::Processes().Terminate(client.id()));
  // Terminate has waited for the end: the file is free at once.
  EXPECT_TRUE(platform::Files().DeleteFile(kClient));
  EXPECT_FALSE(Exists(device.Host(kClient)));
  EXPECT_TRUE(client.WaitForEnd(0));

  // No process has either id: 0 is the system's idle process, ids are multiples of four.
  for (std::uint32_t id : {0u, 0xFFFFFFFDu}) {
    EXPECT_FALSE(platform::Processes().Terminate(id)) << id;
  }
}

}  // namespace
