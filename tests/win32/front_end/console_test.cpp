// The Windows console front end on pipes, with a worker thread acting as the loader's would:
// the protocol that scripts rely on, as on the Linux host.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/console/console_front_end.h"
#include "resources/dialog_template.h"

namespace {

using platform::WindowHandle;

constexpr int kOk = 1001, kCancel = 1002, kEdit = 1003, kStatus = 1004;

// What waits in a pipe, without waiting for more.
std::string Drain(HANDLE pipe) {
  std::string text;
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    std::string chunk(available, '\0');
    DWORD got = 0;
    if (!ReadFile(pipe, chunk.data(), available, &got, nullptr) || got == 0) {
      break;
    }
    text.append(chunk, 0, got);
  }
  return text;
}

void Put(HANDLE pipe, const std::string& text) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  ASSERT_EQ(written, text.size());
}

struct Pipe {
  Pipe() { EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 1 << 20)); }
  ~Pipe() {
    for (HANDLE end : {read, write}) {
      if (end != nullptr) {
        CloseHandle(end);
      }
    }
  }
  void CloseWrite() {
    CloseHandle(write);
    write = nullptr;
  }
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    console = platform::MakeConsoleFrontEnd(in.read, out.write, err.write);
    current = this;
  }
  ~ConsoleTest() override { current = nullptr; }

  // Runs the loader's dialog template; worker runs on its own thread once the dialog is up.
  std::intptr_t Run(std::function<void(WindowHandle)> workerBody) {
    worker = std::move(workerBody);
    const std::intptr_t result =
        console->RunModal(*resources::FindDialogTemplate(resources::LOADER_DIALOG_ID), &Proc, 0);
    if (thread.joinable()) {
      thread.join();
    }
    return result;
  }

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    ConsoleTest& self = *current;
    if (message == WM_INITDIALOG) {
      self.thread = std::thread([&self, dialog] {
        self.worker(dialog);
        self.console->BackgroundThreadEnded();
      });
    } else if (message == WM_COMMAND) {
      self.commands.push_back(static_cast<int>(wParam & 0xFFFF));
      std::vector<wchar_t> text(platform::kEditTextLimit + 2);
      self.console->GetText(self.console->GetItem(dialog, kEdit), text);
      self.editAtCommand = text.data();
      self.console->EndDialog(dialog, 0);
    }
    return 0;
  }

  // What the loader does when it ends a run in the prompt.
  void ShowPrompt(WindowHandle dialog, const wchar_t* status, const wchar_t* address) {
    console->SetText(console->GetItem(dialog, kStatus), status);
    for (int id : {kEdit, kOk, kCancel}) {
      console->Show(console->GetItem(dialog, id), true);
    }
    console->SetText(console->GetItem(dialog, kEdit), address);
  }

  static inline ConsoleTest* current = nullptr;
  Pipe in, out, err;
  std::unique_ptr<platform::DialogFrontEnd> console;
  std::function<void(WindowHandle)> worker;
  std::thread thread;
  std::vector<int> commands;
  std::wstring editAtCommand;
};

struct PromptCase {
  const char* name;
  std::string input;
  bool endInput;  // no more input after it
  int command;
  std::wstring edit;
  std::string left;  // what a later reader still finds
};

TEST_F(ConsoleTest, ThePromptTakesOneLineOnceTheWorkerHasEnded) {
  const std::string longLine(platform::kEditTextLimit + 5, 'a');
  const PromptCase cases[] = {
      {"a line, then more", "typed \xc3\xa9 value\r\nleft for later\n", false, kOk,
       L"typed \u00e9 value", "left for later\n"},
      {"an empty line", "\nnext\n", false, kOk, L"", "next\n"},
      {"a last line without its end", "last", true, kOk, L"last", ""},
      {"end of input", "", true, kCancel, L"old/", ""},
      {"a line longer than an edit box", longLine + "\nnext\n", false, kOk,
       std::wstring(platform::kEditTextLimit, L'a'), "next\n"},
  };
  for (const PromptCase& test : cases) {
    SCOPED_TRACE(test.name);
    Pipe input, output;
    console = platform::MakeConsoleFrontEnd(input.read, output.write, err.write);
    commands.clear();
    Put(input.write, test.input);
    if (test.endInput) {
      input.CloseWrite();
    }
    Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Unable\r\nto connect", L"old/"); });

    EXPECT_EQ(Drain(output.read), "Unable\nto connect\nServer address [old/]: \n");
    EXPECT_EQ(commands, std::vector<int>{test.command});
    EXPECT_EQ(editAtCommand, test.edit);
    EXPECT_EQ(Drain(input.read), test.left);
  }
}

TEST_F(ConsoleTest, FromAFileThePromptLeavesWhatLiesPastTheLine) {
  wchar_t folder[MAX_PATH], name[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"fvl", 0, name), 0u);
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Put(file, "from a file\r\nthe rest\n");
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  console = platform::MakeConsoleFrontEnd(file, out.write, err.write);
  Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Enter URL", L""); });

  EXPECT_EQ(commands, std::vector<int>{kOk});
  EXPECT_EQ(editAtCommand, L"from a file");
  char rest[32] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file, rest, sizeof rest, &got, nullptr));
  EXPECT_EQ(std::string(rest, got), "the rest\n");
  CloseHandle(file);
}

TEST_F(ConsoleTest, WorkerCallsAreCarriedOutInOrderAndTextsOnlyLiveForTheCall) {
  Run([this](WindowHandle dialog) {
    const WindowHandle status = console->GetItem(dialog, kStatus);
    wchar_t buffer[32];
    for (int step = 1; step <= 3; ++step) {
      swprintf(buffer, std::size(buffer), L"step %d", step);
      console->SetText(status, buffer);
      buffer[0] = L'X';  // the call is over: the text may change
    }
    console->SetText(console->GetItem(dialog, kEdit), L"not shown");
    console->EndDialog(dialog, 7);
  });
  EXPECT_EQ(Drain(out.read), "step 1\nstep 2\nstep 3\n");
  EXPECT_TRUE(commands.empty());
}

TEST_F(ConsoleTest, AMessageBoxGoesToStandardErrorAndDoesNotWait) {
  Run([this](WindowHandle dialog) {
    console->MessageBox(L"Could not execute file\r\n'x.exe'.", L"Loader cannot continue");
    console->EndDialog(dialog, 0);
  });
  EXPECT_EQ(Drain(err.read), "Loader cannot continue\nCould not execute file\n'x.exe'.\n");
  EXPECT_EQ(Drain(out.read), "");
}

TEST_F(ConsoleTest, EndDialogFromTheWorkerEndsTheLoopWithItsResult) {
  EXPECT_EQ(Run([this](WindowHandle dialog) { console->EndDialog(dialog, 7); }), 7);
}

}  // namespace
