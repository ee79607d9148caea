// The worker on real threads, driven through the dialog as the user would.
#include "loader/worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "loader/start_up.h"
#include "tests/loader/loader_fixture.h"

namespace loader_test {
namespace {

using testing_support::FakeFrontEnd;

TEST(LoaderFailureTest, CarriesTheFormattedTextCutToItsBuffer) {
  try {
    RaiseFailure(L"5MB required for installation of '%s'.", L"NETCFv35.Messages.EN.cab");
    FAIL() << "nothing raised";
  } catch (const LoaderFailure& failure) {
    EXPECT_STREQ(failure.Message(),
                 L"5MB required for installation of 'NETCFv35.Messages.EN.cab'.");
  }
  const std::wstring longText(400, L'x');
  LoaderFailure cut(longText.c_str());
  EXPECT_EQ(std::wstring(cut.Message()), longText.substr(0, MAX_PATH - 1));
}

class WorkerTest : public LoaderTest {
 protected:
  bool WaitForThreadsEnded(int count) {
    return frontEnd.WaitFor([count](FakeFrontEnd& f) { return f.ThreadsEnded() == count; });
  }
  LoaderContext context;
};

TEST_F(WorkerTest, ARaisedFailureIsShownOnceAndClosesTheLoader) {
  WriteSettings("server.example");
  // Files missing and the free-space query failing: fetching the client's files raises.
  EXPECT_EQ(RunLoaderDialog(&context, L"-DoNotRunNewLoader", kRequiredFiles, nullptr), 0);
  ASSERT_TRUE(WaitForThreadsEnded(1));

  EXPECT_EQ(
      frontEnd.MessageBoxes(),
      (std::vector<std::pair<std::wstring, std::wstring>>{
          {L"Loader cannot continue", L"10MB required for installation of this application."}}));
  EXPECT_EQ(frontEnd.EndCount(), 1);
  EXPECT_FALSE(frontEnd.Visible(1003));
  EXPECT_TRUE(processes.starts.empty());

  // The run held the device lock and let it go before the box, which may wait for the user.
  const std::vector<std::wstring> calls = frontEnd.Calls();
  const std::size_t box =
      std::find(calls.begin(), calls.end(),
                L"MessageBox Loader cannot continue: 10MB required for installation of this "
                L"application.") -
      calls.begin();
  ASSERT_EQ(deviceLock.TakenAt().size(), 1u);
  ASSERT_EQ(deviceLock.ReleasedAt().size(), 1u);
  EXPECT_LT(deviceLock.TakenAt()[0], deviceLock.ReleasedAt()[0]);
  EXPECT_LE(deviceLock.ReleasedAt()[0], box);
  EXPECT_LT(box, calls.size());

  // COM is set up on the worker before the run and torn down after the box, on that thread.
  ASSERT_EQ(com.initializedAt.size(), 1u);
  ASSERT_EQ(com.uninitializedAt.size(), 1u);
  EXPECT_LE(com.initializedAt[0].at, deviceLock.TakenAt()[0]);
  EXPECT_GT(com.uninitializedAt[0].at, box);
  EXPECT_NE(com.initializedAt[0].thread, std::this_thread::get_id());
  EXPECT_EQ(com.initializedAt[0].thread, com.uninitializedAt[0].thread);
}

struct LockCase {
  const char* what;
  bool heldElsewhere;
  bool available;
};

class WorkerLockTest : public WorkerTest, public ::testing::WithParamInterface<LockCase> {};

TEST_P(WorkerLockTest, TheClientIsStartedUnderTheDeviceLockOnceItCanBeHadOrWithoutOne) {
  WriteSettings("server.example");
  for (const wchar_t* const* name = kRequiredFiles; *name != nullptr; ++name) {
    files.present.insert(std::wstring(L"Program Files\\FerroVanMobile\\") + *name);
  }
  // New files of a save and of a shortcut's write whose loader died before the move.
  const std::string abandoned[] = {
      InstallFolder() + "/.RFConfig.xml.abcdefghij12.tmp",
      root / "Windows/Start Menu/Programs/.Quillmar Transport.lnk.0123456789ab.tmp"};
  for (const std::string& file : abandoned) {
    testing_support::WriteFile(file, "");
  }
  deviceLock.heldElsewhere = GetParam().heldElsewhere;
  deviceLock.available = GetParam().available;
  EXPECT_EQ(RunLoaderDialog(&context, L"", kRequiredFiles, nullptr), 0);
  ASSERT_TRUE(WaitForThreadsEnded(1));
  // What killed loaders left is swept once the lock is held, and only then.
  EXPECT_EQ(downloads.sweeps, GetParam().available ? 1 : 0);
  for (const std::string& file : abandoned) {
    EXPECT_EQ(testing_support::Exists(file), !GetParam().available) << file;
  }

  const std::vector<std::wstring> calls = frontEnd.Calls();
  auto at = [&calls](const std::wstring& call) {
    return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
  };
  const std::size_t waiting = at(L"SetText 1004 Waiting for another loader to finish");
  const std::size_t check = at(L"SetText 1004 Checking Required Files");
  EXPECT_EQ(waiting < calls.size(), GetParam().heldElsewhere);
  EXPECT_LT(check, calls.size());
  if (GetParam().heldElsewhere) {
    EXPECT_LT(waiting, check);
  }
  ASSERT_EQ(processes.starts.size(), 1u);
  EXPECT_EQ(processes.starts[0].parameters, L"-NewLoader");
  // Taken before the files were checked and kept after the client was started: the end of
  // the process lets it go.
  ASSERT_EQ(deviceLock.TakenAt().size(), GetParam().available ? 1u : 0u);
  if (GetParam().available) {
    EXPECT_LE(deviceLock.TakenAt()[0], check);
  }
  EXPECT_TRUE(deviceLock.ReleasedAt().empty());
}

INSTANTIATE_TEST_SUITE_P(LockStates, WorkerLockTest,
                         ::testing::Values(LockCase{"free", false, true},
                                           LockCase{"heldElsewhere", true, true},
                                           LockCase{"unavailable", false, false}),
                         [](const ::testing::TestParamInfo<LockCase>& lockCase) {
                           return std::string(lockCase.param.what);
                         });

TEST_F(WorkerTest, OkOnThePromptRunsTheWholeSequenceAgainInANewWorker) {
  testing_support::MakeFolders(InstallFolder());
  files.folderResults[L"Application\\FerroVanMobile\\"] = CreateFolderResult::PathNotFound;
  for (const wchar_t* const* name = kRequiredFiles; *name != nullptr; ++name) {
    files.present.insert(std::wstring(L"Program Files\\FerroVanMobile\\") + *name);
  }

  std::intptr_t result = -2;
  std::thread dialog([&] { result = RunLoaderDialog(&context, L"", kRequiredFiles, nullptr); });
  ASSERT_TRUE(frontEnd.WaitFor([](FakeFrontEnd& f) {
    return f.ThreadsEnded() == 1 && f.Visible(1003) && f.Visible(1001) && f.Visible(1002);
  }));
  EXPECT_EQ(frontEnd.TextOf(1004), L"Enter URL");
  EXPECT_EQ(frontEnd.TextOf(1003), L"");

  frontEnd.SetText(FakeFrontEnd::Handle(1003), L"server.example");
  frontEnd.Command(1001);
  ASSERT_TRUE(WaitForThreadsEnded(2));
  dialog.join();

  EXPECT_EQ(result, 0);
  EXPECT_EQ(frontEnd.EndCount(), 1);
  EXPECT_NE(testing_support::ReadFile(InstallFolder() + "/RFConfig.xml")
                .find("<WebHostName>server.example</WebHostName>"),
            std::string::npos);
  EXPECT_EQ(files.createdFolders.size(), 4u);  // both folders, on each run
  ASSERT_EQ(processes.starts.size(), 1u);
  EXPECT_EQ(processes.starts[0].file,
            L"Program Files\\FerroVanMobile\\Solvane.FerroVan.Mobile.Client.exe");
  EXPECT_EQ(processes.starts[0].parameters, L"-NewLoader");
}

struct LinkedFolderCase {
  const char* what;
  std::vector<std::wstring> linked;  // device folders reached through a link, as checked
  const wchar_t* shown;              // the status text
};

class WorkerLinkedFolderTest : public WorkerTest,
                               public ::testing::WithParamInterface<LinkedFolderCase> {};

// Once the lock is held and before anything is swept, created or written, a linked device
// folder ends the run in the prompt; Ok there saves nothing through it and checks again.
TEST_P(WorkerLinkedFolderTest, ALinkedDeviceFolderEndsTheRunInThePromptBeforeAnyChange) {
  WriteSettings("server.example");
  const std::string abandoned = InstallFolder() + "/.RFConfig.xml.abcdefghij12.tmp";
  testing_support::WriteFile(abandoned, "");
  files.linked.insert(GetParam().linked.begin(), GetParam().linked.end());

  std::intptr_t result = -2;
  std::thread dialog(
      [&] { result = RunLoaderDialog(&context, L"-ForceToUpgrade", kRequiredFiles, nullptr); });
  ASSERT_TRUE(
      frontEnd.WaitFor([](FakeFrontEnd& f) { return f.ThreadsEnded() == 1 && f.Visible(1003); }));
  EXPECT_EQ(frontEnd.TextOf(1004), GetParam().shown);
  EXPECT_LE(wcslen(GetParam().shown), kStatusMessageSize - 1);
  EXPECT_EQ(downloads.sweeps, 0);
  EXPECT_TRUE(testing_support::Exists(abandoned));
  EXPECT_TRUE(files.createdFolders.empty());
  EXPECT_TRUE(files.deleted.empty());
  EXPECT_TRUE(processes.starts.empty());
  ASSERT_EQ(deviceLock.TakenAt().size(), 1u);
  EXPECT_EQ(deviceLock.ReleasedAt().size(), 1u);

  const std::string settingsBefore = testing_support::ReadFile(InstallFolder() + "/RFConfig.xml");
  frontEnd.SetText(FakeFrontEnd::Handle(1003), L"other.example");
  frontEnd.Command(1001);
  ASSERT_TRUE(
      frontEnd.WaitFor([](FakeFrontEnd& f) { return f.ThreadsEnded() == 2 && f.Visible(1003); }));
  EXPECT_EQ(frontEnd.TextOf(1004), GetParam().shown);
  EXPECT_EQ(testing_support::ReadFile(InstallFolder() + "/RFConfig.xml"), settingsBefore);
  EXPECT_TRUE(files.createdFolders.empty());
  frontEnd.Command(1002);
  dialog.join();
  EXPECT_EQ(result, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, WorkerLinkedFolderTest,
    ::testing::Values(
        LinkedFolderCase{"InstallFolder",
                         {L"Program Files\\FerroVanMobile\\"},
                         L"A device folder is a link:\r\n\\Program Files\\FerroVanMobile"},
        // The first from the top is named: a folder on the way is the link itself.
        LinkedFolderCase{"ProgramFiles",
                         {L"Program Files\\", L"Program Files\\FerroVanMobile\\"},
                         L"A device folder is a link:\r\n\\Program Files"},
        LinkedFolderCase{"Settings",
                         {L"Application\\FerroVanMobile\\"},
                         L"A device folder is a link:\r\n\\Application\\FerroVanMobile"},
        LinkedFolderCase{"Temp", {L"Temp\\"}, L"A device folder is a link:\r\n\\Temp"},
        LinkedFolderCase{"StartMenu",
                         {L"Windows\\Start Menu\\Programs\\"},
                         L"A device folder is a link:\r\n\\Windows\\Start Menu\\Programs"},
        LinkedFolderCase{"Desktop",
                         {L"Windows\\Desktop\\"},
                         L"A device folder is a link:\r\n\\Windows\\Desktop"}),
    [](const ::testing::TestParamInfo<LinkedFolderCase>& folderCase) {
      return std::string(folderCase.param.what);
    });

}  // namespace
}  // namespace loader_test
