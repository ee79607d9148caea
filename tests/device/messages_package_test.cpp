#include "device/messages_package.h"

#include <string>

#include <gtest/gtest.h>

#include "loader/platform_detection.h"
#include "loader/worker.h"
#include "tests/device/device_fixture.h"

namespace {

using testing_support::Exists;
using testing_support::WriteFile;

const std::wstring INSTALLING = L".Net Compact Framework 3.5 Messages (EN) installation";

class MessagesPackageTest : public testing_support::DeviceTest {
 protected:
  MessagesPackageTest() {
    platform::CopyText(context.serverAddress, L"server");
    for (const char* name : {"NETCFv35.Messages.EN.cab", "NETCFv35.Messages.EN.wm.cab"}) {
      WriteFile(server_ / name, "cab");
    }
    processes.onStart = [this](const testing_support::StartCall&) {
      namesAtStart_ = Names(Install(""));
    };
  }
  // The failure's text, or "" when none was raised.
  std::wstring RunInstall(bool& result) {
    try {
      result = InstallCfMessagesPackage(&context);
    } catch (const LoaderFailure& failure) {
      return failure.Message();
    }
    return L"";
  }

  testing_support::TempDir server_;
  testing_support::FolderDownloads downloads{server_.Path()};
  platform::ScopedService<platform::DownloadService> downloadsGuard{downloads};
  testing_support::FakeProcesses processes;
  platform::ScopedService<platform::ProcessService> processesGuard{processes};
  std::vector<std::string> namesAtStart_;
};

TEST_F(MessagesPackageTest, InstallsThePackageOfThePlatformAndDeletesIt) {
  struct Case {
    std::int32_t kind;
    const wchar_t* package;
  };
  for (const Case& c : {Case{kPlatformPlainCe, L"NETCFv35.Messages.EN.cab"},
                        Case{kPlatformPocketPc, L"NETCFv35.Messages.EN.wm.cab"},
                        Case{kPlatformSmartphone, L"NETCFv35.Messages.EN.wm.cab"},
                        Case{kPlatformUnknown, L"NETCFv35.Messages.EN.wm.cab"}}) {
    SCOPED_TRACE(c.kind);
    context.platformKind = c.kind;
    processes.starts.clear();
    downloads.urls.clear();
    const std::size_t textsBefore = StatusTexts().size();
    bool result = false;
    EXPECT_EQ(RunInstall(result), L"");
    EXPECT_TRUE(result);

    EXPECT_EQ(downloads.urls,
              std::vector<std::wstring>{std::wstring(L"http://server/FerroVanService/WebService/"
                                                     L"Downloads/") +
                                        c.package});
    ASSERT_EQ(processes.starts.size(), 1u);
    EXPECT_EQ(processes.starts[0].file, L"\\Windows\\WCELOAD.EXE");
    EXPECT_EQ(
        processes.starts[0].parameters,
        std::wstring(L"/delete 0 /noui  \"Program Files\\FerroVanMobile\\") + c.package + L"\"");
    EXPECT_TRUE(processes.starts[0].wait);
    EXPECT_EQ(namesAtStart_, std::vector<std::string>{testing_support::Narrow(c.package)});
    EXPECT_TRUE(Names(Install("")).empty());

    std::vector<std::wstring> texts = StatusTexts();
    texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(textsBefore));
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], L"Downloading CF 3.5 EN Messages package");
    EXPECT_EQ(texts[2], std::wstring(c.package) + L"\r\nDownloaded 3 bytes of 3 bytes");
    EXPECT_EQ(texts[3], INSTALLING);
  }
}

TEST_F(MessagesPackageTest, TooLittleSpaceIsRaisedAfterTheOldCopyIsGone) {
  context.platformKind = kPlatformPocketPc;
  WriteFile(Install("NETCFv35.Messages.EN.wm.cab"), "old");
  files.freeBytes = 6291455;
  bool result = false;
  EXPECT_EQ(RunInstall(result), L"5MB required for installation of 'NETCFv35.Messages.EN.wm.cab'.");
  EXPECT_TRUE(Names(Install("")).empty());
  EXPECT_TRUE(downloads.urls.empty());
  EXPECT_TRUE(processes.starts.empty());
}

TEST_F(MessagesPackageTest, FailedDownloadLeavesNoPackageAndInstallsNothing) {
  context.platformKind = kPlatformPlainCe;
  std::filesystem::remove(server_ / "NETCFv35.Messages.EN.cab");
  bool result = true;
  EXPECT_EQ(RunInstall(result), L"");
  EXPECT_FALSE(result);
  EXPECT_EQ(downloads.urls.size(), 1u);
  EXPECT_TRUE(Names(Install("")).empty());
  EXPECT_TRUE(processes.starts.empty());
  for (const auto& text : StatusTexts()) {
    EXPECT_NE(text, INSTALLING);
  }
}

TEST_F(MessagesPackageTest, InstallerThatCannotStartIsRaisedWithThePath) {
  context.platformKind = kPlatformPlainCe;
  processes.startResult = false;
  bool result = false;
  EXPECT_EQ(RunInstall(result),
            L"Could not execute file 'Program Files\\FerroVanMobile\\NETCFv35.Messages.EN.cab'.");
  EXPECT_TRUE(Names(Install("")).empty());
}

}  // namespace
