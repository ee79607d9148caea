// A console front end driven as the loader drives it: the loader's dialog template run modally,
// a worker thread started at WM_INITDIALOG, and the commands that reach the dialog recorded.
// Each host's console tests derive from it and make console on their own streams.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/common/console_dialog.h"
#include "resources/dialog_template.h"

namespace console_testing {

inline constexpr int kOk = 1001, kCancel = 1002, kEdit = 1003, kStatus = 1004;

class ConsoleFixture : public ::testing::Test {
 protected:
  ConsoleFixture() { current = this; }
  ~ConsoleFixture() override { current = nullptr; }

  // Runs the loader's dialog template; worker runs on its own thread once the dialog is up.
  std::intptr_t Run(std::function<void(platform::WindowHandle)> workerBody) {
    worker = std::move(workerBody);
    const std::intptr_t result =
        console->RunModal(*resources::FindDialogTemplate(resources::kLoaderDialogId), &Proc, 0);
    if (thread.joinable()) {
      thread.join();
    }
    return result;
  }

  // What the loader does when it ends a run in the prompt.
  void ShowPrompt(platform::WindowHandle dialog, const wchar_t* status, const wchar_t* address) {
    console->SetText(console->GetItem(dialog, kStatus), status);
    for (int id : {kEdit, kOk, kCancel}) {
      console->Show(console->GetItem(dialog, id), true);
    }
    console->SetText(console->GetItem(dialog, kEdit), address);
  }

  std::unique_ptr<platform::DialogFrontEnd> console;
  std::vector<int> commands;
  std::wstring editAtCommand;

 private:
  // Ok or Cancel ends the dialog, noting the edit box's text at that moment. The system's
  // calling convention and types, as any dialog procedure: a 32-bit build tells them apart.
  static INT_PTR CALLBACK Proc(platform::WindowHandle dialog, UINT message, WPARAM wParam, LPARAM) {
    ConsoleFixture& self = *current;
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

  static inline ConsoleFixture* current = nullptr;
  std::function<void(platform::WindowHandle)> worker;
  std::thread thread;
};

}  // namespace console_testing
