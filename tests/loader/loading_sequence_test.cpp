#include "loader/loading_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/worker.h"
#include "tests/loader/loader_fixture.h"
#include "tests/support/minisign_maker.h"
#include "tests/support/release_keys_for_tests.h"

namespace loader_test {
namespace {

using testing_support::FakeFrontEnd;
using Start = loader_test::StartCall;

const std::wstring kInstall = L"Program Files\\FerroVanMobile\\";
const std::wstring kClientStart = kInstall + L"Solvane.FerroVan.Mobile.Client.exe";
const std::wstring kShortcut = L"\\Windows\\Start Menu\\Programs\\Quillmar Transport.lnk";

class LoadingSequenceTest : public LoaderTest {
 protected:
  LoadingSequenceTest() {
    context.dialog = FakeFrontEnd::Handle(0);
    context.statusLabel = FakeFrontEnd::Handle(1004);
    context.urlEdit = FakeFrontEnd::Handle(1003);
    context.okButton = FakeFrontEnd::Handle(1001);
    context.cancelButton = FakeFrontEnd::Handle(1002);
    context.requiredFiles = kRequiredFiles;
    context.updateLoader = true;
  }
  void AllFilesPresent() {
    for (const wchar_t* const* name = kRequiredFiles; *name != nullptr; ++name) {
      files.present.insert(kInstall + *name);
    }
  }
  void PlentyOfSpace() {
    files.freeSpaceKnown = true;
    files.freeBytes = std::uint64_t{1} << 30;
  }
  bool PromptShown() {
    std::vector<std::wstring> calls = frontEnd.Calls();
    return std::find(calls.begin(), calls.end(), L"Show 1003 1") != calls.end();
  }

  LoaderContext context;
};

TEST_F(LoadingSequenceTest, WithoutAnAddressAsksForOneAndDoesNothingElse) {
  platform::CopyText(context.statusMessage, L"left alone");
  RunLoadingSequence(&context);

  EXPECT_EQ(files.createdFolders,
            (std::vector<std::wstring>{L"Application\\FerroVanMobile\\", kInstall}));
  EXPECT_EQ(frontEnd.Calls(),
            (std::vector<std::wstring>{L"SetText 1004 Enter URL", L"Show 1003 1", L"Show 1001 1",
                                       L"Show 1002 1", L"SetText 1003 ", L"Focus 1003"}));
  EXPECT_TRUE(files.asked.empty());
  EXPECT_TRUE(files.deleted.empty());
  EXPECT_TRUE(processes.starts.empty());
  EXPECT_TRUE(downloads.urls.empty());
  EXPECT_STREQ(context.statusMessage, L"left alone");
}

TEST_F(LoadingSequenceTest, OnlyAMissingParentMakesTheApplicationFolderUnavailable) {
  struct Case {
    CreateFolderResult result;
    bool available;
  } cases[] = {
      {CreateFolderResult::Created, true},
      {CreateFolderResult::AlreadyExists, true},
      {CreateFolderResult::OtherError, true},
      {CreateFolderResult::PathNotFound, false},
  };
  for (const Case& c : cases) {
    files.folderResults[L"Application\\FerroVanMobile\\"] = c.result;
    context.appDirAvailable = !c.available;
    RunLoadingSequence(&context);
    EXPECT_EQ(context.appDirAvailable, c.available) << static_cast<int>(c.result);
  }
}

TEST_F(LoadingSequenceTest, WithEveryFilePresentStartsTheClientAtOnce) {
  WriteSettings("server.example");
  AllFilesPresent();
  files.present.insert(kShortcut);
  RunLoadingSequence(&context);

  EXPECT_EQ(processes.starts, (std::vector<Start>{{kClientStart, L"-NewLoader", false}}));
  EXPECT_TRUE(downloads.urls.empty());
  EXPECT_TRUE(shell.created.empty());
  EXPECT_EQ(frontEnd.EndCount(), 1);
  EXPECT_FALSE(PromptShown());
  EXPECT_STREQ(context.serverAddress, L"server.example");
}

// Six files in place but no shortcut: a power cut came between the last file and the shortcut.
TEST_F(LoadingSequenceTest, WithEveryFilePresentAMissingShortcutIsRestoredBeforeTheClientStarts) {
  WriteSettings("server.example");
  AllFilesPresent();
  RunLoadingSequence(&context);

  EXPECT_EQ(shell.created,
            (std::vector<std::pair<std::wstring, std::wstring>>{
                {kShortcut, L"\"" + kInstall + L"FerroVan.Mobile.Client.Load.exe\""}}));
  EXPECT_EQ(processes.starts, (std::vector<Start>{{kClientStart, L"-NewLoader", false}}));
  EXPECT_TRUE(downloads.urls.empty());
  EXPECT_TRUE(files.deleted.empty()) << "the Start menu's clean-up belongs to installations";
}

TEST_F(LoadingSequenceTest, AFailedFetchOfTheNewestLoaderEndsInThePrompt) {
  WriteSettings("from.settings");
  platform::CopyText(context.serverAddress, L"typed.example");
  RunLoadingSequence(&context);

  // An address already in the context is used as it stands.
  ASSERT_EQ(downloads.urls.size(), 1u);
  EXPECT_EQ(downloads.urls[0],
            L"http://typed.example/FerroVanService/WebService/Downloads/"
            L"FerroVan.Mobile.Client.Load.exe");
  EXPECT_EQ(frontEnd.TextOf(1004),
            L"Unable to download the latest loader.\r\nPlease check your connection settings.");
  EXPECT_TRUE(frontEnd.Visible(1003) && frontEnd.Visible(1001) && frontEnd.Visible(1002));
  const std::vector<std::wstring> calls = frontEnd.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], L"SetText 1003 typed.example/");
  EXPECT_EQ(calls.back(), L"Focus 1003");
  EXPECT_STREQ(context.statusMessage, L"");
  EXPECT_TRUE(processes.starts.empty());
  EXPECT_EQ(frontEnd.EndCount(), 0);
}

TEST_F(LoadingSequenceTest, AFetchedNewestLoaderIsStartedInsteadOfTheClient) {
  WriteSettings("server.example");
  downloads.succeed = true;
  RunLoadingSequence(&context);

  EXPECT_EQ(downloads.urls.size(), 1u);
  EXPECT_EQ(processes.starts,
            (std::vector<Start>{{kInstall + L"FerroVan.Mobile.Client.Load.New.exe",
                                 L"-DoNotRunNewLoader", false}}));
  EXPECT_EQ(frontEnd.EndCount(), 1);
  EXPECT_FALSE(PromptShown());
}

TEST_F(LoadingSequenceTest, WithoutTheLoaderUpdateFetchesEverythingAndRunsTheSetupPackages) {
  WriteSettings("server.example");
  PlentyOfSpace();
  downloads.succeed = true;
  context.updateLoader = false;
  const wchar_t* packages[] = {L"first.cab", L"second.cab", nullptr};
  context.setupPackages = packages;
  RunLoadingSequence(&context);

  EXPECT_EQ(downloads.urls.size(), 6u);
  EXPECT_FALSE(shell.created.empty());
  ASSERT_EQ(processes.starts.size(), 3u);
  EXPECT_EQ(processes.starts[0].file, L"\\Windows\\WCELOAD.EXE");
  EXPECT_NE(processes.starts[0].parameters.find(kInstall + L"first.cab"), std::wstring::npos);
  EXPECT_TRUE(processes.starts[0].wait);
  EXPECT_NE(processes.starts[1].parameters.find(kInstall + L"second.cab"), std::wstring::npos);
  EXPECT_EQ(processes.starts[2], (Start{kClientStart, L"-NewLoader", false}));
  EXPECT_EQ(frontEnd.EndCount(), 1);
}

TEST_F(LoadingSequenceTest, AForcedUpgradeSkipsTheFileCheckEvenWhenEverythingIsThere) {
  WriteSettings("server.example");
  AllFilesPresent();
  PlentyOfSpace();
  context.forceUpgrade = true;
  context.updateLoader = false;
  RunLoadingSequence(&context);

  EXPECT_TRUE(files.asked.empty());
  EXPECT_EQ(downloads.urls.size(), 1u);  // the first client file, which fails
  EXPECT_TRUE(processes.starts.empty());
  EXPECT_TRUE(PromptShown());
  EXPECT_STREQ(context.statusMessage, L"");
}

TEST_F(LoadingSequenceTest, AMessagePackageThatCannotBeFetchedKeepsTheClientFromStarting) {
  WriteSettings("server.example");
  AllFilesPresent();
  PlentyOfSpace();
  context.installCfMessages = true;
  RunLoadingSequence(&context);

  EXPECT_TRUE(context.installCfMessages);
  EXPECT_TRUE(processes.starts.empty());
  EXPECT_EQ(frontEnd.TextOf(1004), L"");
  EXPECT_TRUE(PromptShown());

  downloads.succeed = true;
  RunLoadingSequence(&context);
  EXPECT_FALSE(context.installCfMessages);
  ASSERT_EQ(processes.starts.size(), 2u);  // the installer, then the client
  EXPECT_EQ(processes.starts[1], (Start{kClientStart, L"-NewLoader", false}));
}

TEST_F(LoadingSequenceTest, AProgramThatCannotBeStartedRaisesAFailureWithItsPath) {
  struct Case {
    bool filesPresent;
    std::wstring program;
  } cases[] = {
      {true, kClientStart},
      {false, kInstall + L"FerroVan.Mobile.Client.Load.New.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.program.begin(), c.program.end()));
    WriteSettings("server.example");
    files.present.clear();
    if (c.filesPresent) {
      AllFilesPresent();
    }
    downloads.succeed = true;
    processes.unstartable = {c.program};
    processes.starts.clear();

    try {
      RunLoadingSequence(&context);
      ADD_FAILURE() << "nothing raised";
    } catch (const LoaderFailure& failure) {
      EXPECT_EQ(std::wstring(failure.Message()), L"Could not execute file '" + c.program + L"'.");
    }
    ASSERT_EQ(processes.starts.size(), 1u);
    EXPECT_EQ(processes.starts[0].file, c.program);
    // The worker shows the failure and closes the loader; the run itself did not.
    EXPECT_EQ(frontEnd.EndCount(), 0);
    EXPECT_FALSE(PromptShown());
  }
}

TEST_F(LoadingSequenceTest, NoSetupPackagesMeansNothingToInstall) {
  InstallSetupPackages(&context);
  const wchar_t* none[] = {nullptr};
  context.setupPackages = none;
  InstallSetupPackages(&context);
  EXPECT_TRUE(processes.starts.empty());
}

}  // namespace
}  // namespace loader_test

namespace loader_test {
namespace {

// A loader with release keys asks for the release manifest before anything else, in every run:
// the run after an Ok trusts no manifest of the run before.
TEST_F(LoadingSequenceTest, EachRunOfASignedLoaderBeginsWithTheReleaseManifest) {
  const testing_support::ReleaseKey publisher = testing_support::MakeReleaseKey();
  const testing_support::ScopedReleaseKeys keys(publisher.publicKeyText);
  PlentyOfSpace();
  platform::CopyText(context.serverAddress, L"server");
  for (int run = 1; run <= 2; ++run) {
    RunLoadingSequence(&context);
    ASSERT_EQ(downloads.urls.size(), static_cast<std::size_t>(run));
    EXPECT_EQ(downloads.urls.back(),
              L"http://server/FerroVanService/WebService/Downloads/FerroVan.Mobile.Release");
    EXPECT_TRUE(PromptShown());
  }
  const std::vector<std::wstring> calls = frontEnd.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      L"SetText 1004 Unable to download the release manifest.\r\nPlease check "
                      L"your connection settings."),
            calls.end());
  EXPECT_TRUE(processes.starts.empty());
}

}  // namespace
}  // namespace loader_test
