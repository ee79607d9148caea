#include "settings/settings_file.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/device/device_fakes.h"

namespace {

using testing_support::DeviceTest;
using testing_support::Exists;
using testing_support::ReadFile;
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
  EXPECT_FALSE(Exists(AppFile() + ".new"));

  // A save cut short by an earlier crash left only its pending copy behind.
  WriteFile(InstallFile() + ".new", "<Conf");
  context.appDirAvailable = false;
  EXPECT_TRUE(SaveServerAddress(&context, L"a<b&c"));
  EXPECT_FALSE(Exists(InstallFile() + ".new"));
  EXPECT_EQ(ReadFile(InstallFile()), FromScratch("a&lt;b&amp;c"));
  EXPECT_EQ(ReadFile(AppFile()), FromScratch("server:8080/"));
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
