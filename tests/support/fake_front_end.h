// A front end for tests: records what the loader shows and lets a test act as the user. Its
// modal loop runs tasks that a test posts, so commands reach the dialog on the loop's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialog.h"

namespace testing_support {

class FakeFrontEnd : public platform::DialogFrontEnd {
 public:
  // The handle that stands for a control id (the dialog itself is id 0).
  static platform::WindowHandle Handle(int id) {
    return reinterpret_cast<platform::WindowHandle>(static_cast<std::intptr_t>(0x1000 + id));
  }
  static int IdOf(platform::WindowHandle window) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(window) - 0x1000);
  }

  std::intptr_t RunModal(const platform::DialogTemplate& dialogTemplate, platform::DialogProc proc,
                         std::intptr_t param) override;
  platform::WindowHandle GetItem(platform::WindowHandle, int controlId) override {
    return Handle(controlId);
  }
  void SetUserData(platform::WindowHandle window, std::intptr_t value) override;
  std::intptr_t GetUserData(platform::WindowHandle window) override;
  int GetSystemMetrics(int index) override { return index == SM_CXSCREEN ? 480 : 640; }
  void Move(platform::WindowHandle window, int x, int y, int width, int height, bool) override;
  void Show(platform::WindowHandle window, bool visible) override;
  bool IsVisible(platform::WindowHandle window) override { return Visible(IdOf(window)); }
  void Focus(platform::WindowHandle control) override;
  void SetText(platform::WindowHandle window, const wchar_t* text) override;
  int GetText(platform::WindowHandle window, std::span<wchar_t> text) override;
  void EndDialog(platform::WindowHandle dialog, std::intptr_t result) override;
  void MessageBox(const wchar_t* text, const wchar_t* caption) override;
  void BackgroundThreadEnded() override;

  // Runs task on the modal loop's thread (as a user's click would be handled).
  void Post(std::function<void()> task);
  // Sends WM_COMMAND with controlId to the dialog procedure, on the loop's thread.
  void Command(int controlId);
  // Waits (bounded) until predicate holds over this front end's records.
  bool WaitFor(const std::function<bool(FakeFrontEnd&)>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

  // Records; safe to read from any thread.
  std::vector<std::wstring> TextsOf(int id);
  std::wstring TextOf(int id);
  bool Visible(int id);
  std::vector<std::pair<std::wstring, std::wstring>> MessageBoxes();  // (caption, text)
  int EndCount();
  int ThreadsEnded();
  // Every call in order, as "SetText 1004 Quillmar RF Loader", "Show 1003 1", "End 0" ...
  std::vector<std::wstring> Calls();
  std::pair<int, int> DialogSize();  // from Move on the dialog

 private:
  void Record(std::wstring call);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  std::map<int, std::vector<std::wstring>> texts_;
  std::map<int, bool> visible_;
  std::map<int, std::intptr_t> userData_;
  std::vector<std::pair<std::wstring, std::wstring>> boxes_;
  std::vector<std::wstring> calls_;
  std::pair<int, int> dialogSize_{0, 0};
  platform::DialogProc proc_ = nullptr;
  int ends_ = 0;
  int threadsEnded_ = 0;
  bool ended_ = false;
};

}  // namespace testing_support
