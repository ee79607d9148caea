// The console front end on pipes, with a worker thread acting as the loader's would.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog_console.h"
#include "resources/dialog_template.h"

namespace {

using platform::WindowHandle;

constexpr int kOk = 1001, kCancel = 1002, kEdit = 1003, kStatus = 1004;

std::string Drain(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

void Put(int fd, const std::string& text) {
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    for (int* ends : {in, out, err}) {
      EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
    }
    // The test's own ends never wait; the console's input end does.
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    console = platform::MakeConsoleFrontEnd(in[0], out[1], err[1]);
    current = this;
  }
  ~ConsoleTest() override {
    current = nullptr;
    for (int* ends : {in, out, err}) {
      close(ends[0]);
      if (ends[1] >= 0)
        close(ends[1]);
    }
  }

  // Runs the loader's dialog template; worker runs on its own thread once the dialog is up.
  std::intptr_t Run(std::function<void(WindowHandle)> workerBody) {
    worker = std::move(workerBody);
    std::intptr_t result = console->RunModal(*resources::FindDialogTemplate(102), &Proc, 0);
    if (thread.joinable())
      thread.join();
    return result;
  }

  static std::intptr_t Proc(WindowHandle dialog, unsigned message, std::uintptr_t wParam,
                            std::intptr_t) {
    ConsoleTest& self = *current;
    if (message == platform::WM_INITDIALOG) {
      self.thread = std::thread([&self, dialog] {
        self.worker(dialog);
        self.console->BackgroundThreadEnded();
      });
    } else if (message == platform::WM_COMMAND) {
      const int id = static_cast<int>(wParam & 0xFFFF);
      self.commands.push_back(id);
      wchar_t text[64];
      self.console->GetText(self.console->GetItem(dialog, kEdit), text);
      self.editAtCommand = text;
      self.console->EndDialog(dialog, 0);
    }
    return 0;
  }

  // What the loader does when it ends a run in the prompt.
  void ShowPrompt(WindowHandle dialog, const wchar_t* status, const wchar_t* address) {
    console->SetText(console->GetItem(dialog, kStatus), status);
    for (int id : {kEdit, kOk, kCancel})
      console->Show(console->GetItem(dialog, id), true);
    console->SetText(console->GetItem(dialog, kEdit), address);
  }

  static inline ConsoleTest* current = nullptr;
  int in[2], out[2], err[2];
  std::unique_ptr<platform::DialogFrontEnd> console;
  std::function<void(WindowHandle)> worker;
  std::thread thread;
  std::vector<int> commands;
  std::wstring editAtCommand;
};

TEST_F(ConsoleTest, ThePromptReadsOneLineOnceTheWorkerHasEndedAndSendsOk) {
  Put(in[1], "typed \xc3\xa9 value\r\nleft for later\n");
  Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Unable\r\nto connect", L"old/"); });

  EXPECT_EQ(Drain(out[0]), "Unable\nto connect\nServer address [old/]: \n");
  EXPECT_EQ(commands, std::vector<int>{kOk});
  EXPECT_EQ(editAtCommand, L"typed \u00e9 value");
  fcntl(in[0], F_SETFL, O_NONBLOCK);
  EXPECT_EQ(Drain(in[0]), "left for later\n");
}

TEST_F(ConsoleTest, EndOfInputAtThePromptIsCancel) {
  close(in[1]);
  in[1] = -1;
  Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Enter URL", L""); });
  EXPECT_EQ(Drain(out[0]), "Enter URL\nServer address []: \n");
  EXPECT_EQ(commands, std::vector<int>{kCancel});
  EXPECT_EQ(editAtCommand, L"");
}

TEST_F(ConsoleTest, StatusTextsArePrintedBeforeSetTextReturnsAndEndDialogEndsTheLoop) {
  std::string seenByWorker;
  const std::intptr_t result = Run([&](WindowHandle dialog) {
    wchar_t text[] = L"first";
    console->SetText(console->GetItem(dialog, kStatus), text);
    text[0] = L'F';  // the caller's buffer may change as soon as SetText returns
    seenByWorker = Drain(out[0]);
    console->SetText(console->GetItem(dialog, kEdit), L"not printed");
    console->EndDialog(dialog, 7);
  });
  EXPECT_EQ(result, 7);
  EXPECT_EQ(seenByWorker, "first\n");
  EXPECT_EQ(Drain(out[0]), "");
  EXPECT_TRUE(commands.empty());
}

TEST_F(ConsoleTest, NoPromptWhileItIsHidden) {
  Run([this](WindowHandle dialog) {
    ShowPrompt(dialog, L"Enter URL", L"a");
    for (int id : {kEdit, kOk, kCancel})
      console->Show(console->GetItem(dialog, id), false);
    console->EndDialog(dialog, 0);
  });
  EXPECT_EQ(Drain(out[0]), "Enter URL\n");
  EXPECT_TRUE(commands.empty());
}

TEST_F(ConsoleTest, AMessageBoxGoesToStandardErrorWithoutWaitingOffATerminal) {
  console->MessageBox(L"5MB required\r\nfor 'x'.", L"Loader cannot continue");
  EXPECT_EQ(Drain(err[0]), "Loader cannot continue\n5MB required\nfor 'x'.\n");
}

}  // namespace
