#include "loader/loader_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "loader/platform_detection.h"
#include "tests/loader/loader_fixture.h"

namespace loader_test {
namespace {

class LoaderContextTest : public ::testing::Test {
 protected:
  FakeSystemInfo systemInfo;
  platform::ScopedService<platform::SystemInfoService> guard{systemInfo};
};

TEST_F(LoaderContextTest, StartsWithTheFoldersNamesAndIdsOfTheBuild) {
  LoaderContext context;
  EXPECT_EQ(context.dialog, nullptr);
  EXPECT_EQ(context.statusLabel, nullptr);
  EXPECT_EQ(context.urlEdit, nullptr);
  EXPECT_EQ(context.okButton, nullptr);
  EXPECT_EQ(context.cancelButton, nullptr);
  EXPECT_STREQ(context.serverAddress, L"");
  EXPECT_STREQ(context.statusMessage, L"");
  EXPECT_EQ(context.requiredFiles, nullptr);
  EXPECT_EQ(context.setupPackages, nullptr);
  EXPECT_FALSE(context.appDirAvailable);
  EXPECT_FALSE(context.forceUpgrade);
  EXPECT_FALSE(context.updateLoader);
  EXPECT_FALSE(context.installCfMessages);

  EXPECT_STREQ(context.installDir, L"Program Files\\FerroVanMobile\\");
  EXPECT_STREQ(context.appDir, L"Application\\FerroVanMobile\\");
  EXPECT_STREQ(context.installDirAnsi, "Program Files\\FerroVanMobile\\");
  EXPECT_STREQ(context.appDirAnsi, "Application\\FerroVanMobile\\");
  EXPECT_STREQ(context.loaderExeName, L"FerroVan.Mobile.Client.Load.exe");
  EXPECT_STREQ(context.newLoaderExeName, L"FerroVan.Mobile.Client.Load.New.exe");
  EXPECT_STREQ(context.clientExeName, L"Solvane.FerroVan.Mobile.Client.exe");
  EXPECT_STREQ(context.shortcutName, L"Quillmar Transport");
  EXPECT_STREQ(context.downloadUrlFormat, L"http://%sFerroVanService/WebService/Downloads/%s");
  EXPECT_STREQ(context.downloadUrlFormatWithScheme, L"%sWebService/Downloads/%s");

  EXPECT_EQ(context.dialogId, 102);
  EXPECT_EQ(context.statusLabelId, 1004);
  EXPECT_EQ(context.urlEditId, 1003);
  EXPECT_EQ(context.okButtonId, 1001);
  EXPECT_EQ(context.cancelButtonId, 1002);
  EXPECT_EQ(context.platformKind, kPlatformPocketPc);
}

TEST(RequiredFilesTest, NamesTheSixClientFilesInOrder) {
  const wchar_t* expected[] = {
      L"Solvane.Mobile.Common.dll",
      L"Solvane.FerroVan.Mobile.Client.exe",
      L"Solvane.Ferrovan.Mobile.Client.Business.dll",
      L"Solvane.Ferrovan.Mobile.Client.Common.dll",
      L"Solvane.Ferrovan.Mobile.Client.Data.dll",
      L"Solvane.Ferrovan.Mobile.GUI.dll",
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    ASSERT_NE(kRequiredFiles[i], nullptr);
    EXPECT_STREQ(kRequiredFiles[i], expected[i]);
  }
  EXPECT_EQ(kRequiredFiles[std::size(expected)], nullptr);
}

TEST(ClassifyPlatformTest, CoversEveryQueryOutcomeAndPlatformType) {
  struct Case {
    bool versionOk, isWindowsCe, typeOk;
    const wchar_t* type;
    std::int32_t expected;
  } cases[] = {
      {false, true, true, L"PocketPC", kPlatformUnknown},
      {true, false, true, L"PocketPC", kPlatformUnknown},
      {true, true, false, L"PocketPC", kPlatformUnknown},
      {true, true, true, L"Smartphone", kPlatformSmartphone},
      {true, true, true, L"SMARTPHONE", kPlatformSmartphone},
      {true, true, true, L"sMaRtPhOnE", kPlatformSmartphone},
      {true, true, true, L"Smartphone2", kPlatformPlainCe},
      {true, true, true, L"PocketPC", kPlatformPocketPc},
      {true, true, true, L"pocketpc", kPlatformPlainCe},
      {true, true, true, L"POCKETPC", kPlatformPlainCe},
      {true, true, true, L"", kPlatformPlainCe},
      {true, true, true, L"Jupiter", kPlatformPlainCe},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyPlatform(c.versionOk, c.isWindowsCe, c.typeOk, c.type), c.expected)
        << c.versionOk << c.isWindowsCe << c.typeOk << " " << c.type;
  }
}

TEST_F(LoaderContextTest, DetectsThePlatformOnceFromTheSystemQueries) {
  struct Case {
    bool versionOk, windowsCe, typeOk;
    const wchar_t* type;
    std::int32_t expected;
    bool plainCe;
  } cases[] = {
      {true, true, true, L"smartphone", kPlatformSmartphone, false},
      {true, true, true, L"PocketPC", kPlatformPocketPc, false},
      {true, true, true, L"CEPC", kPlatformPlainCe, true},
      {true, true, false, L"CEPC", kPlatformUnknown, false},
      {true, false, true, L"CEPC", kPlatformUnknown, false},
      {false, true, true, L"CEPC", kPlatformUnknown, false},
  };
  for (const Case& c : cases) {
    systemInfo.versionOk = c.versionOk;
    systemInfo.windowsCe = c.windowsCe;
    systemInfo.typeOk = c.typeOk;
    systemInfo.platformType = c.type;
    systemInfo.typeQueries = 0;
    LoaderContext context;
    EXPECT_EQ(context.platformKind, c.expected) << c.type;
    EXPECT_EQ(IsPlainCeDevice(&context), c.plainCe) << c.type;
    EXPECT_LE(systemInfo.typeQueries, 1);
  }
}

}  // namespace
}  // namespace loader_test
