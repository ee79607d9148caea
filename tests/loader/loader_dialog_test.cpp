#include "loader/loader_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/status_line.h"
#include "loader/worker.h"
#include "tests/loader/loader_fixture.h"

namespace loader_test {
namespace {

using testing_support::FakeFrontEnd;

class LoaderDialogTest : public LoaderTest {
 protected:
  std::intptr_t Init() {
    return LoaderDialogProc(FakeFrontEnd::Handle(0), WM_INITDIALOG, 0,
                            reinterpret_cast<std::intptr_t>(&context));
  }
  std::intptr_t Command(std::uintptr_t wParam) {
    return LoaderDialogProc(FakeFrontEnd::Handle(0), WM_COMMAND, wParam, 0);
  }
  // The prompt as the loading sequence leaves it at the end of a run.
  void ShowPrompt() { ShowAddressPrompt(&context, true, context.serverAddress); }
  std::vector<std::wstring> CallsSince(std::size_t first) {
    std::vector<std::wstring> calls = frontEnd.Calls();
    return std::vector<std::wstring>(calls.begin() + static_cast<std::ptrdiff_t>(first),
                                     calls.end());
  }

  FakeThreads threads;
  platform::ScopedService<platform::ThreadService> threadsGuard{threads};
  LoaderContext context;
};

TEST_F(LoaderDialogTest, InitialisationFillsTheScreenShowsTheTitleAndStartsAWorker) {
  EXPECT_EQ(Init(), 1);

  EXPECT_EQ(context.dialog, FakeFrontEnd::Handle(0));
  EXPECT_EQ(context.statusLabel, FakeFrontEnd::Handle(1004));
  EXPECT_EQ(context.urlEdit, FakeFrontEnd::Handle(1003));
  EXPECT_EQ(context.okButton, FakeFrontEnd::Handle(1001));
  EXPECT_EQ(context.cancelButton, FakeFrontEnd::Handle(1002));
  EXPECT_EQ(frontEnd.GetUserData(FakeFrontEnd::Handle(0)),
            reinterpret_cast<std::intptr_t>(&context));
  EXPECT_EQ(frontEnd.Calls(),
            (std::vector<std::wstring>{L"Move 0 0 0 480 640", L"SetText 1004 Quillmar RF Loader"}));
  ASSERT_EQ(threads.starts.size(), 1u);
  EXPECT_EQ(threads.starts[0].first, &WorkerMain);
  EXPECT_EQ(threads.starts[0].second, &context);
  EXPECT_EQ(frontEnd.EndCount(), 0);
}

TEST_F(LoaderDialogTest, LooksTheControlsUpByTheContextsIds) {
  context.statusLabelId = 2004;
  context.urlEditId = 2003;
  context.okButtonId = 2001;
  context.cancelButtonId = 2002;
  Init();
  EXPECT_EQ(context.statusLabel, FakeFrontEnd::Handle(2004));
  EXPECT_EQ(context.urlEdit, FakeFrontEnd::Handle(2003));
  EXPECT_EQ(context.okButton, FakeFrontEnd::Handle(2001));
  EXPECT_EQ(context.cancelButton, FakeFrontEnd::Handle(2002));

  ShowPrompt();
  const std::size_t before = frontEnd.Calls().size();
  EXPECT_EQ(Command(1002), 0);
  EXPECT_EQ(frontEnd.EndCount(), 0);
  EXPECT_EQ(Command(2002), 0);
  EXPECT_EQ(CallsSince(before), std::vector<std::wstring>{L"End 0"});
}

TEST_F(LoaderDialogTest, AWorkerThatCannotStartClosesTheDialog) {
  threads.canStart = false;
  EXPECT_EQ(Init(), 1);
  EXPECT_EQ(frontEnd.Calls().back(), L"End 0");
  EXPECT_EQ(frontEnd.EndCount(), 1);
}

TEST_F(LoaderDialogTest, OnlyTheOkAndCancelIdsAct) {
  Init();
  ShowPrompt();
  const std::size_t before = frontEnd.Calls().size();
  for (std::uintptr_t wParam : {std::uintptr_t{1}, std::uintptr_t{2}, std::uintptr_t{1003},
                                std::uintptr_t{0x0300u << 16 | 1003}, std::uintptr_t{0}}) {
    EXPECT_EQ(Command(wParam), 0) << wParam;
  }
  EXPECT_TRUE(CallsSince(before).empty());
  EXPECT_EQ(threads.starts.size(), 1u);

  // The notification code in the high word is not looked at.
  EXPECT_EQ(Command(std::uintptr_t{0x1234u} << 16 | 1002), 0);
  EXPECT_EQ(CallsSince(before), std::vector<std::wstring>{L"End 0"});
}

TEST_F(LoaderDialogTest, OkWithAnEmptyEditBoxStoresAnEmptyAddressAndStartsAWorker) {
  testing_support::MakeFolders(InstallFolder());
  Init();
  platform::CopyText(context.serverAddress, L"old.example");
  ShowPrompt();
  frontEnd.SetText(FakeFrontEnd::Handle(1003), L"");
  const std::size_t before = frontEnd.Calls().size();

  EXPECT_EQ(Command(std::uintptr_t{1} << 16 | 1001), 0);

  EXPECT_EQ(CallsSince(before),
            (std::vector<std::wstring>{L"Show 1003 0", L"Show 1001 0", L"Show 1002 0"}));
  EXPECT_STREQ(context.serverAddress, L"");
  EXPECT_NE(testing_support::ReadFile(InstallFolder() + "/RFConfig.xml").find("<WebHostName"),
            std::string::npos);
  ASSERT_EQ(threads.starts.size(), 2u);
  EXPECT_EQ(threads.starts[1].second, &context);
  EXPECT_EQ(frontEnd.EndCount(), 0);
}

TEST_F(LoaderDialogTest, OkTakesAtMost259CharactersOfTheEditBox) {
  Init();
  ShowPrompt();
  const std::wstring typed(300, L'a');
  frontEnd.SetText(FakeFrontEnd::Handle(1003), (L"h" + typed).c_str());
  Command(1001);
  EXPECT_EQ(std::wstring(context.serverAddress), L"h" + typed.substr(0, 258));
}

TEST_F(LoaderDialogTest, OkClosesTheDialogWhenTheNextWorkerCannotStart) {
  Init();
  ShowPrompt();
  threads.canStart = false;
  Command(1001);
  EXPECT_EQ(frontEnd.Calls().back(), L"End 0");
}

TEST_F(LoaderDialogTest, TheAddressPromptShowsOrHidesThenSetsTheTextWhenGiven) {
  Init();
  const std::size_t before = frontEnd.Calls().size();
  ShowAddressPrompt(&context, true, L"server.example");
  ShowAddressPrompt(&context, false, nullptr);
  EXPECT_EQ(CallsSince(before),
            (std::vector<std::wstring>{L"Show 1003 1", L"Show 1001 1", L"Show 1002 1",
                                       L"SetText 1003 server.example", L"Focus 1003",
                                       L"Show 1003 0", L"Show 1001 0", L"Show 1002 0"}));
  EXPECT_EQ(frontEnd.TextOf(1003), L"server.example");
}

// Enter while the loader works reaches the hidden default button, a key held at the prompt
// repeats it after Ok has hidden the prompt: neither may save the edit box or start a worker.
TEST_F(LoaderDialogTest, HiddenButtonsDoNothing) {
  testing_support::MakeFolders(InstallFolder());
  WriteSettings("saved.example");
  const std::string saved = testing_support::ReadFile(InstallFolder() + "/RFConfig.xml");
  struct Case {
    const char* what;
    bool promptShownFirst;
  } cases[] = {{"while the first worker runs", false}, {"after Ok has hidden the prompt", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    threads.starts.clear();
    Init();
    platform::CopyText(context.serverAddress, L"saved.example");
    if (c.promptShownFirst) {
      ShowPrompt();
      Command(1001);
    }
    // What a working Ok would save.
    frontEnd.SetText(FakeFrontEnd::Handle(1003), L"");
    const std::size_t workers = threads.starts.size();
    const std::size_t before = frontEnd.Calls().size();

    for (int press = 0; press < 3; ++press) {
      EXPECT_EQ(Command(1001), 0);
      EXPECT_EQ(Command(1002), 0);
    }
    EXPECT_TRUE(CallsSince(before).empty());
    EXPECT_EQ(threads.starts.size(), workers);
    EXPECT_EQ(frontEnd.EndCount(), 0);
    EXPECT_STREQ(context.serverAddress, L"saved.example");
    EXPECT_EQ(testing_support::ReadFile(InstallFolder() + "/RFConfig.xml"), saved);
  }
}

TEST_F(LoaderDialogTest, OtherMessagesAreLeftToTheDialogManager) {
  EXPECT_EQ(LoaderDialogProc(FakeFrontEnd::Handle(0), WM_SETTEXT, 0, 0), 0);
  EXPECT_TRUE(frontEnd.Calls().empty());
}

}  // namespace
}  // namespace loader_test
