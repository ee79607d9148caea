// The console front end on pipes, on every host, with a worker thread acting as the loader's
// would: the protocol that scripts rely on.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/common/console_dialog.h"
#include "resources/dialog_template.h"
#include "tests/platform/console_fixture.h"
#include "tests/support/console_pipes.h"

namespace {

using platform::WindowHandle;
using testing_support::TestPipe;

using console_testing::kCancel;
using console_testing::kEdit;
using console_testing::kOk;
using console_testing::kStatus;

class ConsoleTest : public console_testing::ConsoleFixture {
 protected:
  ConsoleTest() { console = testing_support::ConsoleOn(in, out, err); }

  TestPipe in, out, err;
};

TEST_F(ConsoleTest, ThePromptTakesOneLineOnceTheWorkerHasEnded) {
  const std::string longLine(platform::kEditTextLimit + 5, 'a');
  const struct {
    const char* name;
    std::string input;
    bool endInput;  // no more input after it
    int command;
    std::wstring edit;
    std::string left;  // what a later reader still finds
  } cases[] = {
      {"a line, then more", "typed \xc3\xa9 value\r\nleft for later\n", false, kOk,
       L"typed \u00e9 value", "left for later\n"},
      {"an empty line", "\nnext\n", false, kOk, L"", "next\n"},
      {"a last line without its end", "last", true, kOk, L"last", ""},
      {"end of input", "", true, kCancel, L"old/", ""},
      {"a line longer than an edit box", longLine + "\nnext\n", false, kOk,
       std::wstring(platform::kEditTextLimit, L'a'), "next\n"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TestPipe input, output;
    console = testing_support::ConsoleOn(input, output, err);
    commands.clear();
    input.Put(test.input);
    if (test.endInput) {
      input.CloseWrite();
    }
    Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Unable\r\nto connect", L"old/"); });

    EXPECT_EQ(output.Drain(), "Unable\nto connect\nServer address [old/]: \n");
    EXPECT_EQ(commands, std::vector<int>{test.command});
    EXPECT_EQ(editAtCommand, test.edit);
    EXPECT_EQ(input.Drain(), test.left);
  }
}

TEST_F(ConsoleTest, WorkerCallsAreCarriedOutInOrderBeforeTheyReturnAndEndDialogEndsTheLoop) {
  std::string seenByWorker;
  const std::intptr_t result = Run([&](WindowHandle dialog) {
    const WindowHandle status = console->GetItem(dialog, kStatus);
    wchar_t buffer[32];
    for (int step = 1; step <= 3; ++step) {
      std::swprintf(buffer, std::size(buffer), L"step %d", step);
      console->SetText(status, buffer);
      buffer[0] = L'X';  // the call is over: the text may change
      if (step == 1) {
        seenByWorker = out.Drain();  // printed before SetText returned
      }
    }
    console->SetText(console->GetItem(dialog, kEdit), L"not shown");
    console->EndDialog(dialog, 7);
  });
  EXPECT_EQ(result, 7);
  EXPECT_EQ(seenByWorker, "step 1\n");
  EXPECT_EQ(out.Drain(), "step 2\nstep 3\n");
  EXPECT_TRUE(commands.empty());
}

// Show is posted to the loop's thread; a read that follows it waits for it, and a text set from
// the worker is the worker's copy.
TEST_F(ConsoleTest, AReadFromTheWorkerSeesEveryUpdateItMadeBefore) {
  Run([this](WindowHandle dialog) {
    const WindowHandle ok = console->GetItem(dialog, kOk);
    const WindowHandle edit = console->GetItem(dialog, kEdit);
    for (int round = 0; round < 200; ++round) {
      const bool visible = round % 2 == 0;
      console->Show(ok, visible);
      ASSERT_EQ(console->IsVisible(ok), visible) << round;
    }
    wchar_t buffer[16] = L"typed";
    console->SetText(edit, buffer);
    buffer[0] = L'X';
    wchar_t read[16];
    EXPECT_EQ(console->GetText(edit, read), 5);
    EXPECT_STREQ(read, L"typed");
    console->Show(ok, false);
    console->EndDialog(dialog, 3);
  });
  EXPECT_TRUE(commands.empty());
}

TEST_F(ConsoleTest, NoPromptWhileItIsHidden) {
  Run([this](WindowHandle dialog) {
    ShowPrompt(dialog, L"Enter URL", L"a");
    for (int id : {kEdit, kOk, kCancel}) {
      console->Show(console->GetItem(dialog, id), false);
    }
    console->EndDialog(dialog, 0);
  });
  EXPECT_EQ(out.Drain(), "Enter URL\n");
  EXPECT_TRUE(commands.empty());
}

TEST_F(ConsoleTest, AMessageBoxGoesToStandardErrorAndDoesNotWaitOffATerminal) {
  console->MessageBox(L"5MB required\r\nfor 'x'.", L"Loader cannot continue");
  EXPECT_EQ(err.Drain(), "Loader cannot continue\n5MB required\nfor 'x'.\n");
  Run([this](WindowHandle dialog) {
    console->MessageBox(L"Could not execute file\r\n'x.exe'.", L"Loader cannot continue");
    console->EndDialog(dialog, 0);
  });
  EXPECT_EQ(err.Drain(), "Loader cannot continue\nCould not execute file\n'x.exe'.\n");
  EXPECT_EQ(out.Drain(), "");
}

}  // namespace
