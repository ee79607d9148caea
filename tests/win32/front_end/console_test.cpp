// What only Windows has of the console: a line read from a file handle, leaving what lies past
// it. The cases of every host are in tests/platform/console_test.cpp.
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

class WindowsConsoleTest : public ::testing::Test {
 protected:
  WindowsConsoleTest() {
    console = platform::MakeConsoleFrontEnd(in.read, out.write, err.write);
    current = this;
  }
  ~WindowsConsoleTest() override { current = nullptr; }

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
    WindowsConsoleTest& self = *current;
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

  static inline WindowsConsoleTest* current = nullptr;
  Pipe in, out, err;
  std::unique_ptr<platform::DialogFrontEnd> console;
  std::function<void(WindowHandle)> worker;
  std::thread thread;
  std::vector<int> commands;
  std::wstring editAtCommand;
};

TEST_F(WindowsConsoleTest, FromAFileThePromptLeavesWhatLiesPastTheLine) {
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

}  // namespace
