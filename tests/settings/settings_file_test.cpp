#include "settings/settings_file.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/device/device_fixture.h"

namespace {

using testing_support::DeviceTest;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

class SettingsFileTest : public DeviceTest {
 protected:
  std::string AppFile() const { return Device("Application/FerroVanMobile/RFConfig.xml"); }
  std::string InstallFile() const { return Install("RFConfig.xml"); }

  std::wstring Read(const std::wstring& before = L"") {
    wchar_t address[MAX_PATH];
    before.copy(address, before.size());
    address[before.size()] = L'\0';
    ReadServerAddress(&context, address);
    return address;
  }
  static std::string Stored(const std::string& address) {
    return "<Config><WebHostName>" + address + "</WebHostName></Config>";
  }
};

std::string FromScratch(const std::string& text) {
  return "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>" + text +
         "</WebHostName>\n</Config>\n";
}

TEST_F(SettingsFileTest, SaveWritesTheFourLineFileInTheChosenFolder) {
  testing_support::MakeFolders(Device("Application/FerroVanMobile"));
  context.appDirAvailable = true;
  EXPECT_TRUE(SaveServerAddress(&context, L"server:8080/"));
  EXPECT_EQ(ReadFile(AppFile()), FromScratch("server:8080/"));
  EXPECT_FALSE(Exists(InstallFile()));
  EXPECT_EQ(Names(Device("Application/FerroVanMobile")), std::vector<std::string>{"RFConfig.xml"})
      << "no temporary file is left beside it";

  context.appDirAvailable = false;
  EXPECT_TRUE(SaveServerAddress(&context, L"a<b&c"));
  EXPECT_EQ(ReadFile(InstallFile()), FromScratch("a&lt;b&amp;c"));
  EXPECT_EQ(ReadFile(AppFile()), FromScratch("server:8080/"));
}

// A link planted in the install folder must not let a save write a file elsewhere: whatever
// stands at the settings file's name is replaced, and no other name is written at all.
TEST_F(SettingsFileTest, SaveReplacesLinksAndNeverWritesThroughThem) {
  TempDir elsewhere;
  const std::string target = elsewhere / "victim";
  const struct {
    const char* linkName;
    const char* scene;
  } cases[] = {
      {"RFConfig.xml", "a link in place of the settings file"},
      {"RFConfig.xml.new", "a link where an older loader put its pending copy"},
      {".RFConfig.xml.tmp", "a link at a guessable temporary name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scene);
    std::filesystem::remove_all(Install(""));
    testing_support::MakeFolders(Install(""));
    WriteFile(target, Stored("old"));
    std::filesystem::create_symlink(target, Install(c.linkName));

    EXPECT_TRUE(SaveServerAddress(&context, L"srv/"));
    EXPECT_EQ(ReadFile(target), Stored("old"));
    EXPECT_FALSE(std::filesystem::is_symlink(InstallFile()));
    EXPECT_EQ(ReadFile(InstallFile()), FromScratch("srv/"));
    std::vector<std::string> expected = {"RFConfig.xml"};
    if (std::string(c.linkName) != "RFConfig.xml") {
      expected.insert(expected.begin(), c.linkName);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(Install("")), expected);
  }
}

// The loader's file is a few lines two levels deep: one much larger or deeper is refused as a
// malformed one is, and a save then starts from scratch instead of carrying it on.
TEST_F(SettingsFileTest, FilesFarLargerOrDeeperThanTheLoadersOwnDoNotLoad) {
  const auto padded = [](std::size_t size) {
    std::string text = Stored("app-server") + "<!--";
    text += std::string(size - text.size() - 3, 'x') + "-->";
    return text;
  };
  const auto nested = [](std::size_t levels, bool closed) {
    std::string text = "<Config><WebHostName>app-server</WebHostName>";
    for (std::size_t level = 2; level <= levels; ++level) {
      text += "<a>";
    }
    if (closed) {
      for (std::size_t level = 2; level <= levels; ++level) {
        text += "</a>";
      }
      text += "</Config>";
    }
    return text;
  };
  const struct {
    std::string content;
    bool loads;
    const char* what;
  } cases[] = {
      {padded(64 * 1024), true, "64 KiB"},
      {padded(64 * 1024 + 1), false, "a byte over 64 KiB"},
      {padded(1024 * 1024), false, "1 MiB"},
      {nested(16, true), true, "16 levels"},
      {nested(17, true), false, "17 levels"},
      {nested(2000, true), false, "2000 levels"},
      {nested(3, false), false, "unclosed, 3 levels"},
      {nested(2000, false), false, "unclosed, 2000 levels"},
  };
  WriteFile(InstallFile(), Stored("install-server"));
  context.appDirAvailable = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(AppFile(), c.content);
    EXPECT_EQ(Read(), c.loads ? L"app-server" : L"install-server");

    if (!c.loads && c.content.size() > 1000) {
      EXPECT_TRUE(SaveServerAddress(&context, L"srv/"));
      EXPECT_EQ(ReadFile(AppFile()), FromScratch("srv/"));
    }
  }
}

TEST_F(SettingsFileTest, EmptyAddressIsWrittenWithStartAndEndTagAndReadBackEmpty) {
  EXPECT_TRUE(SaveServerAddress(&context, L""));
  EXPECT_EQ(ReadFile(InstallFile()), FromScratch(""));
  EXPECT_EQ(Read(L"previous"), L"");
}

TEST_F(SettingsFileTest, SavedAddressKeepsItsSpacesUntilRead) {
  EXPECT_TRUE(SaveServerAddress(&context, L" my server/ "));
  EXPECT_EQ(ReadFile(InstallFile()), FromScratch(" my server/ "));
  EXPECT_EQ(Read(), L"myserver/");
}

TEST_F(SettingsFileTest, NonAsciiAddressRoundTrips) {
  EXPECT_TRUE(SaveServerAddress(&context, L"s\u00e9rveur/"));
  EXPECT_EQ(ReadFile(InstallFile()), FromScratch("s\xc3\xa9rveur/"));
  EXPECT_EQ(Read(), L"s\u00e9rveur/");
}

TEST_F(SettingsFileTest, ReadingRemovesEveryWhiteSpaceCharacter) {
  WriteFile(InstallFile(), Stored(" \t\n server\r\n:80\v\f/ x \t"));
  EXPECT_EQ(Read(), L"server:80/x");
}

TEST_F(SettingsFileTest, FallsBackToInstallDirOnlyWhenAppDirDoesNotLoad) {
  WriteFile(InstallFile(), Stored("install-server"));
  EXPECT_EQ(Read(), L"install-server");

  WriteFile(AppFile(), "<Config><WebHostName>broken</Config>");
  EXPECT_EQ(Read(), L"install-server");

  WriteFile(AppFile(), Stored("app-server"));
  EXPECT_EQ(Read(), L"app-server");

  for (const char* withoutAddress :
       {"<Other><WebHostName>x</WebHostName></Other>", "<Config><Host>x</Host></Config>",
        "<Config><WebHostName/></Config>"}) {
    SCOPED_TRACE(withoutAddress);
    WriteFile(AppFile(), withoutAddress);
    EXPECT_EQ(Read(L"previous"), L"");
  }
}

TEST_F(SettingsFileTest, NoLoadableFileLeavesTheAddressAsItWas) {
  EXPECT_EQ(Read(L"kept"), L"kept");
  WriteFile(InstallFile(), "not xml <");
  EXPECT_EQ(Read(L"kept"), L"kept");
}

TEST_F(SettingsFileTest, SaveAppendsConfigAfterAForeignRoot) {
  WriteFile(InstallFile(), "<Root>\n</Root>");
  SaveServerAddress(&context, L"srv");
  EXPECT_EQ(ReadFile(InstallFile()),
            "<?xml version=\"1.0\"?>\n<Root />\n<Config>\n\t<WebHostName>srv</WebHostName>\n"
            "</Config>\n");
}

TEST_F(SettingsFileTest, SaveKeepsOtherContentAndReplacesTheFirstNodeOnly) {
  WriteFile(InstallFile(),
            "<!-- note --><Config a=\"1\"><X>y</X><WebHostName>old<b/></WebHostName></Config>");
  SaveServerAddress(&context, L"new");
  EXPECT_EQ(ReadFile(InstallFile()),
            "<?xml version=\"1.0\"?>\n<Config a=\"1\">\n\t<X>y</X>\n\t<WebHostName>new<b />\n"
            "\t</WebHostName>\n</Config>\n");
}

TEST_F(SettingsFileTest, SaveIntoAMissingFolderWritesNothingAndSucceeds) {
  context.appDirAvailable = true;
  EXPECT_TRUE(SaveServerAddress(&context, L"srv"));
  EXPECT_FALSE(Exists(Device("Application")));
}

TEST_F(SettingsFileTest, TextsTooLongForTheAddressAreNotTaken) {
  const std::string longest(MAX_PATH - 1, 'a');
  WriteFile(InstallFile(), Stored(longest + "  "));
  EXPECT_EQ(Read(L"kept"), std::wstring(MAX_PATH - 1, L'a'));

  WriteFile(InstallFile(), Stored(longest + "b"));
  EXPECT_EQ(Read(L"kept"), L"kept");

  // 200 characters of two bytes each do not fit the 260-byte narrow text.
  WriteFile(InstallFile(), Stored("old"));
  EXPECT_TRUE(SaveServerAddress(&context, std::wstring(200, L'\u00e9').c_str()));
  EXPECT_EQ(ReadFile(InstallFile()), Stored("old"));
}

}  // namespace
