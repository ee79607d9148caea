#include "device/shortcuts.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loader/platform_detection.h"
#include "tests/device/device_fixture.h"
#include "tests/support/host_traits.h"

namespace {

using testing_support::WriteFile;

const std::wstring TARGET = L"\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"";

class ShortcutsTest : public testing_support::DeviceTest {
 protected:
  ShortcutsTest() {
    for (const char* name : {"Quillmar Transport Old.lnk", "Quillmar Transport2.lnk", "Other.lnk",
                             "Quillmar Transport.txt", "quillmar transport x.lnk"}) {
      WriteFile(StartMenu() + name, "old");
    }
  }
  std::string StartMenu() const { return Device("Windows/Start Menu/Programs/"); }

  testing_support::RecordingShell shell;
  platform::ScopedService<platform::ShellService> guard{shell};
};

TEST_F(ShortcutsTest, PlainCeGetsProgramsAndDesktopAndKeepsTheStartMenu) {
  context.platformKind = kPlatformPlainCe;
  CreateShortcuts(&context);
  using Created = std::pair<std::wstring, std::wstring>;
  EXPECT_EQ(shell.created,
            (std::vector<Created>{{L"\\Windows\\Programs\\Quillmar Transport.lnk", TARGET},
                                  {L"\\Windows\\Desktop\\Quillmar Transport.lnk", TARGET}}));
  EXPECT_EQ(Names(StartMenu()).size(), 5u);
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{L"Creating shortcuts"});
}

TEST_F(ShortcutsTest, OtherKindsGetOneStartMenuShortcutAndLoseItsOlderNames) {
  for (std::int32_t kind : {kPlatformPocketPc, kPlatformSmartphone, kPlatformUnknown}) {
    SCOPED_TRACE(kind);
    context.platformKind = kind;
    shell.created.clear();
    CreateShortcuts(&context);
    EXPECT_EQ(shell.created,
              (std::vector<std::pair<std::wstring, std::wstring>>{
                  {L"\\Windows\\Start Menu\\Programs\\Quillmar Transport.lnk", TARGET}}));
    // Found as the file system finds names: a name in other letter case is the same name where
    // the host does not tell case apart.
    std::vector<std::string> kept = {"Other.lnk", "Quillmar Transport.lnk",
                                     "Quillmar Transport.txt"};
    if (testing_support::HostNamesTellCaseApart()) {
      kept.push_back("quillmar transport x.lnk");
    }
    EXPECT_EQ(Names(StartMenu()), kept);
    EXPECT_TRUE(Names(Device("Windows/Desktop")).empty());
    EXPECT_TRUE(Names(Device("Windows/Programs")).empty());
  }
}

// An everyday start puts back a shortcut that a complete installation has and the device lost,
// and leaves every other file of the folders alone.
TEST_F(ShortcutsTest, RestoringMakesOnlyTheMissingShortcutsAndCleansNothingUp) {
  const struct {
    std::int32_t kind;
    std::vector<std::string> present;  // shortcuts there before
    std::vector<std::wstring> restored;
  } cases[] = {
      {kPlatformPlainCe,
       {"Windows/Desktop/Quillmar Transport.lnk"},
       {L"\\Windows\\Programs\\Quillmar Transport.lnk"}},
      {kPlatformPlainCe,
       {"Windows/Desktop/Quillmar Transport.lnk", "Windows/Programs/Quillmar Transport.lnk"},
       {}},
      {kPlatformPocketPc, {}, {L"\\Windows\\Start Menu\\Programs\\Quillmar Transport.lnk"}},
      {kPlatformPocketPc, {"Windows/Start Menu/Programs/Quillmar Transport.lnk"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    context.platformKind = c.kind;
    shell.created.clear();
    const std::size_t textsBefore = StatusTexts().size();
    for (const char* folder :
         {"Windows/Desktop", "Windows/Programs", "Windows/Start Menu/Programs"}) {
      std::filesystem::remove(Device(std::string(folder) + "/Quillmar Transport.lnk"));
    }
    for (const std::string& shortcut : c.present) {
      WriteFile(Device(shortcut), "kept as it is");
    }
    RestoreMissingShortcuts(&context);

    std::vector<std::pair<std::wstring, std::wstring>> expected;
    for (const std::wstring& path : c.restored) {
      expected.emplace_back(path, TARGET);
    }
    EXPECT_EQ(shell.created, expected);
    for (const std::string& shortcut : c.present) {
      EXPECT_EQ(testing_support::ReadFile(Device(shortcut)), "kept as it is");
    }
    const std::vector<std::wstring> texts = StatusTexts();
    EXPECT_EQ(std::vector<std::wstring>(texts.begin() + textsBefore, texts.end()),
              c.restored.empty() ? std::vector<std::wstring>{}
                                 : std::vector<std::wstring>{L"Creating shortcuts"});
    EXPECT_EQ(Names(StartMenu()).size(), 5u + (c.kind == kPlatformPocketPc ? 1u : 0u))
        << "the older names stay";
  }
}

}  // namespace
