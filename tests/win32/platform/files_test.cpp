// What only Windows has of the device's files: attributes of its own, moves from its internet
// cache, searches that ignore letter case, small files by ANSI path, shortcuts and the platform
// type as its calls make them. The cases of every host are in tests/platform/files_test.cpp.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/shell.h"
#include "platform/small_files.h"
#include "platform/win32/wide_text.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/platform/service_test_support.h"

namespace {

using service_tests::Exists;
using service_tests::ReadBytes;
using service_tests::Wide;
using service_tests::WriteBytes;
using testing_support::TempDir;

class Win32FilesTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::SetDeviceRoot(root_.Path());
    ASSERT_TRUE(platform::CreateSystemFolders());
  }
  // The host path of a device path.
  static std::wstring Host(const wchar_t* devicePath) { return platform::WideHostPath(devicePath); }
  static std::vector<std::wstring> Names(const wchar_t* pattern) {
    std::vector<std::wstring> names;
    auto search = platform::Files().FindFiles(pattern);
    wchar_t name[MAX_PATH];
    while (search != nullptr && search->Next(name)) {
      names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::wstring> LeftoversIn(const wchar_t* folder) {
    std::vector<std::wstring> names = Names((std::wstring(folder) + L"\\.*").c_str());
    return names;
  }

  TempDir root_;
};

TEST_F(Win32FilesTest, HiddenAndReadOnlyFilesAreNormalFiles) {
  ASSERT_TRUE(WriteBytes(Host(L"Temp\\hidden.txt"), "x"));
  SetFileAttributesW(Host(L"Temp\\hidden.txt").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(platform::Files().GetAttributes(L"Temp\\hidden.txt"), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(Host(L"Temp\\hidden.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32FilesTest, MovesFromAWindowsPathOutsideTheDevice) {
  // The download service hands back the internet cache's copy by its full Windows path.
  TempDir cache;
  const std::wstring cached = Wide(cache / "client[1].exe");
  ASSERT_TRUE(WriteBytes(cached, "program"));
  ASSERT_EQ(platform::Files().GetAttributes(cached.c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(platform::Files().MoveFile(cached.c_str(), L"Program Files\\client.exe"));
  EXPECT_EQ(ReadBytes(Host(L"Program Files\\client.exe")), "program");
  EXPECT_FALSE(Exists(cached));
}

TEST_F(Win32FilesTest, SearchesWithTheDevicesWildcardsAndNoDotEntries) {
  for (const wchar_t* name : {L"a.dll", L"b.DLL", L"c.dll1", L"noext", L"longer name.exe"}) {
    ASSERT_TRUE(WriteBytes(Host((std::wstring(L"Program Files\\") + name).c_str()), "x"));
  }
  ASSERT_TRUE(CreateDirectoryW(Host(L"Program Files\\sub").c_str(), nullptr));
  using NameList = std::vector<std::wstring>;
  struct Case {
    const wchar_t* pattern;
    NameList expected;
  };
  const std::vector<Case> cases = {
      {L"Program Files\\*.*",
       {L"a.dll", L"b.DLL", L"c.dll1", L"longer name.exe", L"noext", L"sub"}},
      // Case does not matter, as in the file system, and the system's short names ("C~1.DLL")
      // never make "c.dll1" match.
      {L"\\Program Files\\*.dll", {L"a.dll", L"b.DLL"}},
      {L"Program Files\\?.dll*", {L"a.dll", L"b.DLL", L"c.dll1"}},
      {L"Program Files\\A.DLL", {L"a.dll"}},
      {L"Program Files\\noext", {L"noext"}},
      {L"Temp\\*.*", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::WideToUtf8(c.pattern));
    EXPECT_EQ(Names(c.pattern), c.expected);
  }
  EXPECT_EQ(platform::Files().FindFiles(L"Missing\\*.*"), nullptr);
  EXPECT_EQ(platform::Files().FindFiles(L"Program Files\\noext\\*.*"), nullptr);

  // A name longer than the caller's buffer ends the search instead of being cut.
  auto search = platform::Files().FindFiles(L"Program Files\\longer*");
  ASSERT_NE(search, nullptr);
  wchar_t shortName[6];
  EXPECT_FALSE(search->Next(shortName));
}

TEST_F(Win32FilesTest, ReplacesSmallFilesWholeAndLeavesNoTemporary) {
  const char* path = "Program Files\\RFConfig.xml";
  ASSERT_TRUE(platform::SmallFiles().ReplaceFile(path, std::string(5000, 'a')));
  ASSERT_TRUE(platform::SmallFiles().ReplaceFile(path, "short"));
  EXPECT_EQ(ReadBytes(Host(L"Program Files\\RFConfig.xml")), "short");
  // A file that another program holds open for reading (without sharing deletion) is not
  // written into: the replacement fails and the old content stays.
  const HANDLE reader = CreateFileW(Host(L"Program Files\\RFConfig.xml").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(platform::SmallFiles().ReplaceFile(path, "other"));
  CloseHandle(reader);
  EXPECT_EQ(ReadBytes(Host(L"Program Files\\RFConfig.xml")), "short");
  EXPECT_EQ(LeftoversIn(L"Program Files"), std::vector<std::wstring>());
  EXPECT_FALSE(platform::SmallFiles().ReplaceFile("Missing\\RFConfig.xml", "x"));
}

// A writer keeps its new file open, sharing only deletion, until the move: a sweep meanwhile
// leaves it alone.
TEST_F(Win32FilesTest, ANewFileThatItsWriterHoldsOpenIsSpared) {
  const std::wstring file = Host(L"Temp\\.RFConfig.xml.abcdefghij12.tmp");
  ASSERT_TRUE(WriteBytes(file, "half"));
  const HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  platform::SmallFiles().RemoveAbandonedReplacements("Temp\\RFConfig.xml");
  EXPECT_TRUE(Exists(file));
  CloseHandle(writer);
  platform::SmallFiles().RemoveAbandonedReplacements("Temp\\RFConfig.xml");
  EXPECT_FALSE(Exists(file));
}

TEST_F(Win32FilesTest, SmallFilePathsAreInTheAnsiCodePage) {
  if (GetACP() != 1252) {
    GTEST_SKIP() << "the case is written for code page 1252; this system uses " << GetACP();
  }
  ASSERT_TRUE(platform::SmallFiles().ReplaceFile("Temp\\caf\xE9.xml", "content"));
  EXPECT_EQ(ReadBytes(Host(L"Temp\\caf\u00E9.xml")), "content");
  std::string content;
  EXPECT_TRUE(platform::SmallFiles().ReadWholeFile("Temp\\caf\xE9.xml", 100, content));
  EXPECT_EQ(content, "content");
}

// A shortcut there under the name in other letter case is the same file; it ends up with the
// name as asked for, which the clean-up of the Start menu compares exactly.
TEST_F(Win32FilesTest, AShortcutInOtherLetterCaseIsReplacedUnderTheNameAskedFor) {
  const wchar_t* target = L"\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"";
  const wchar_t* shortcut = L"\\Windows\\Start Menu\\Programs\\FerroVan.lnk";
  ASSERT_TRUE(WriteBytes(Host(L"\\Windows\\Start Menu\\Programs\\FERROVAN.LNK"), "old"));
  ASSERT_TRUE(platform::Shell().CreateShortcut(shortcut, target));
  EXPECT_EQ(Names(L"Windows\\Start Menu\\Programs\\*.*"),
            std::vector<std::wstring>{L"FerroVan.lnk"});
  EXPECT_EQ(ReadBytes(Host(shortcut)),
            "62#\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"");
}

// Temp and the install folder on two file systems (run_on_two_volumes.sh mounts a small one on
// the install folder of the device root it names): the move is a copy, which never leaves a cut
// file under the destination's name, nor a new file beside it, whether it fits or not.
TEST(Win32FilesOtherVolume, AMoveAcrossVolumesIsWholeUnderItsNameOrAbsent) {
  const char* root = std::getenv("FERROVAN_TEST_TWO_VOLUME_ROOT");
  ASSERT_NE(root, nullptr) << "run through run_on_two_volumes.sh";
  platform::SetDeviceRoot(root);
  ASSERT_TRUE(platform::CreateSystemFolders());
  const struct {
    const wchar_t* name;
    std::size_t bytes;
    bool fits;
  } cases[] = {{L"small.dll", 100000, true}, {L"large.dll", 1000000, false}};
  for (const auto& move : cases) {
    SCOPED_TRACE(platform::WideToUtf8(move.name));
    std::string content(move.bytes, 'c');
    for (std::size_t i = 0; i < content.size(); i += 4093) {
      content[i] = static_cast<char>('a' + i % 26);
    }
    const std::wstring from = std::wstring(L"Temp\\") + move.name;
    const std::wstring to = std::wstring(L"Program Files\\FerroVanMobile\\") + move.name;
    WriteBytes(platform::WideHostPath(from), content);
    EXPECT_EQ(platform::Files().MoveFile(from.c_str(), to.c_str()), move.fits);
    if (move.fits) {
      EXPECT_TRUE(ReadBytes(platform::WideHostPath(to)) == content);
      EXPECT_FALSE(Exists(platform::WideHostPath(from)));
    } else {
      EXPECT_FALSE(Exists(platform::WideHostPath(to)));
      EXPECT_TRUE(ReadBytes(platform::WideHostPath(from)) == content);
    }
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW(
        (platform::WideHostPath(L"Program Files\\FerroVanMobile") + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring found = entry.cFileName;
        if (found != L"." && found != L"..") {
          names.push_back(found);
        }
      } while (FindNextFileW(search, &entry));
      FindClose(search);
    }
    EXPECT_EQ(names,
              move.fits ? std::vector<std::wstring>{L"small.dll"} : std::vector<std::wstring>{});
    DeleteFileW(platform::WideHostPath(to).c_str());
    DeleteFileW(platform::WideHostPath(from).c_str());
  }
}

}  // namespace
