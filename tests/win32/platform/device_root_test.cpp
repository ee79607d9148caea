// What only Windows has of the device root: its paths, and where it is chosen (LOCALAPPDATA,
// drives, shares, the Windows folder). The cases of every host are in
// tests/platform/device_root_test.cpp.
#include "platform/device_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "tests/win32/platform/service_test_support.h"

namespace {

using service_tests::ScopedVariable;
using service_tests::Wide;

std::string CurrentFolder() {
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  return platform::WideToUtf8(folder);
}

TEST(Win32DeviceRootTest, ChoosesOptionThenVariableThenProgramFolderThenLocalAppData) {
  const std::string here = CurrentFolder();
  const std::string inHere = here.back() == '\\' ? here : here + "\\";
  ScopedVariable appData(L"LOCALAPPDATA", L"C:\\Users\\someone\\AppData\\Local");
  struct Case {
    const char* name;
    const char* option;
    const wchar_t* variable;  // FERROVAN_DEVICE_ROOT; null for unset
    std::string program;
    std::string expected;
    bool usable = true;
  };
  wchar_t windowsFolder[MAX_PATH];
  GetWindowsDirectoryW(windowsFolder, MAX_PATH);
  const std::string windows = platform::WideToUtf8(windowsFolder);
  const std::string insideWindows = windows + "\\Temp\\dev";
  const std::string localDevice = "C:\\Users\\someone\\AppData\\Local\\ferrovan\\device";
  const std::vector<Case> cases = {
      {"option first", "D:\\devices\\one\\", L"E:\\env",
       "F:\\x\\Program Files\\FerroVanMobile\\l.exe", "D:\\devices\\one"},
      {"relative option", "dev\\..\\root", nullptr, "", inHere + "root"},
      {"variable next", nullptr, L"E:\\env", "F:\\x\\Program Files\\FerroVanMobile\\l.exe",
       "E:\\env"},
      {"empty variable is unset", "", L"", "F:\\x\\Program Files\\FerroVanMobile\\l.exe", "F:\\x"},
      {"program folder, any case", nullptr, nullptr, "F:\\y\\PROGRAM FILES\\ferrovanmobile\\l.exe",
       "F:\\y"},
      // Where X would be the top of a drive or a system folder, the device lives in the user's
      // data folder instead.
      {"program on a drive's top", nullptr, nullptr, "G:\\Program Files\\FerroVanMobile\\l.exe",
       localDevice},
      {"program in the Windows folder", nullptr, nullptr,
       windows + "\\Program Files\\FerroVanMobile\\l.exe", localDevice},
      {"program on a share's top", nullptr, nullptr,
       "\\\\server\\share\\Program Files\\FerroVanMobile\\l.exe", localDevice},
      // Named as the root, such a folder is refused.
      {"a drive's top", "C:\\", nullptr, "", "C:\\", false},
      {"the Windows folder", nullptr, windowsFolder, "", windows, false},
      {"inside the Windows folder", insideWindows.c_str(), nullptr, "", insideWindows, false},
      {"program elsewhere", nullptr, nullptr, "F:\\Program Files\\Other\\l.exe",
       "C:\\Users\\someone\\AppData\\Local\\ferrovan\\device"},
      {"no program path", nullptr, nullptr, "",
       "C:\\Users\\someone\\AppData\\Local\\ferrovan\\device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedVariable root(L"FERROVAN_DEVICE_ROOT", c.variable);
    std::string chosen;
    EXPECT_EQ(platform::ChooseDeviceRoot(c.option, c.program, chosen), c.usable);
    EXPECT_EQ(chosen, c.expected);
  }
}

// Every Program Files of the system is refused as the root: both of a 64-bit system, whichever
// one is this build's own (a 32-bit program is told of the 64-bit one only by ProgramW6432).
TEST(Win32DeviceRootTest, RefusesEachProgramFilesOfTheSystem) {
  int named = 0;
  for (const wchar_t* variable : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
    wchar_t folder[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(variable, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      continue;
    }
    const std::string programFiles = platform::WideToUtf8(folder);
    SCOPED_TRACE(programFiles);
    ScopedVariable root(L"FERROVAN_DEVICE_ROOT", nullptr);
    std::string chosen;
    EXPECT_FALSE(platform::ChooseDeviceRoot(programFiles.c_str(), "", chosen));
    ++named;
  }
  EXPECT_GT(named, 0) << "the system names no Program Files";
}

// The install folder of FERROVAN_TEST_TWO_VOLUME_ROOT is a volume of its own, mounted on that
// folder: named, it is the root; as the folder around an installation, it is passed over.
TEST(Win32DeviceRootMountedFolder, NamedIsTakenButNeverDerived) {
  const char* twoVolumes = std::getenv("FERROVAN_TEST_TWO_VOLUME_ROOT");
  ASSERT_NE(twoVolumes, nullptr) << "run through run_on_two_volumes.sh";
  const std::string mounted = std::string(twoVolumes) + "\\Program Files\\FerroVanMobile";
  ScopedVariable appData(L"LOCALAPPDATA", L"C:\\Users\\someone\\AppData\\Local");
  ScopedVariable rootVariable(L"FERROVAN_DEVICE_ROOT", nullptr);
  std::string chosen;
  EXPECT_TRUE(platform::ChooseDeviceRoot(mounted.c_str(), "", chosen));
  EXPECT_EQ(chosen, mounted);
  {
    ScopedVariable named(L"FERROVAN_DEVICE_ROOT", Wide(mounted).c_str());
    EXPECT_TRUE(platform::ChooseDeviceRoot(nullptr, "", chosen));
    EXPECT_EQ(chosen, mounted);
  }
  EXPECT_TRUE(platform::ChooseDeviceRoot(
      nullptr, mounted + "\\Program Files\\FerroVanMobile\\l.exe", chosen));
  EXPECT_EQ(chosen, "C:\\Users\\someone\\AppData\\Local\\ferrovan\\device");
}

TEST(Win32DeviceRootTest, MapsDevicePathsIntoTheRoot) {
  struct Case {
    const char* root;
    const wchar_t* devicePath;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"C:\\dev", L"Program Files\\FerroVanMobile\\x.dll",
       "C:\\dev\\Program Files\\FerroVanMobile\\x.dll"},
      {"C:\\dev", L"\\Windows\\WCELOAD.EXE", "C:\\dev\\Windows\\WCELOAD.EXE"},
      {"C:\\dev", L"Windows/Start Menu/Programs", "C:\\dev\\Windows\\Start Menu\\Programs"},
      {"C:\\dev", L"Program Files\\FerroVanMobile\\", "C:\\dev\\Program Files\\FerroVanMobile\\"},
      {"C:\\dev", L"", "C:\\dev"},
      {"C:\\dev", L"\\", "C:\\dev"},
      {"C:\\dev\\", L"Temp", "C:\\dev\\Temp"},
      {"C:\\", L"\\Windows", "C:\\Windows"},
      {"C:/dev/sub/../other", L"Temp\\\u00E9", "C:\\dev\\other\\Temp\\\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.root) + " + " + platform::WideToUtf8(c.devicePath));
    platform::SetDeviceRoot(c.root);
    EXPECT_EQ(platform::ToHostPath(std::wstring_view(c.devicePath)), c.expected);
    EXPECT_EQ(platform::ToHostPath(std::string_view(platform::WideToUtf8(c.devicePath))),
              c.expected);
    EXPECT_EQ(platform::WideHostPath(c.devicePath), Wide(c.expected));
  }
}

TEST(Win32DeviceRootTest, TakesWindowsPathsAsTheyAre) {
  platform::SetDeviceRoot("C:\\dev");
  for (const wchar_t* path : {L"C:\\users\\me\\Temporary Internet Files\\x.cab", L"z:/tmp/a",
                              L"\\\\server\\share\\file"}) {
    EXPECT_EQ(platform::WideHostPath(path), path);
  }
}

}  // namespace
