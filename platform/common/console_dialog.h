// What every host's console front end shares: the dialog's windows as small records that the
// handles point at, carried out in call order by the thread that runs the modal loop, and the
// address prompt asked once the worker that showed it has ended. A host adds its input and
// output: how a status text is shown, how the address is asked for, the message box.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/dialog.h"

namespace platform {

// The most characters the address prompt keeps of a line: what an edit box holds unless told
// otherwise. The rest of a longer line is read and dropped.
inline constexpr std::size_t kEditTextLimit = 32767;

class ConsoleDialog : public DialogFrontEnd {
 public:
  std::intptr_t RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                         std::intptr_t param) final;
  WindowHandle GetItem(WindowHandle dialog, int controlId) final;
  void SetUserData(WindowHandle window, std::intptr_t value) final;
  std::intptr_t GetUserData(WindowHandle window) final;
  void Move(WindowHandle, int, int, int, int, bool) final {}
  void Show(WindowHandle window, bool visible) final;
  bool IsVisible(WindowHandle window) final;
  // A console has no focus to move: the prompt reads its line wherever the focus would be.
  void Focus(WindowHandle) final {}
  void SetText(WindowHandle window, const wchar_t* text) final;
  int GetText(WindowHandle window, std::span<wchar_t> text) final;
  void EndDialog(WindowHandle dialog, std::intptr_t result) final;
  void BackgroundThreadEnded() final;

 protected:
  // Both run on the loop's thread. ShowStatus shows a text set on the status line.
  virtual void ShowStatus(const std::wstring& text) = 0;
  // Asks for the address with current in the edit box: the line read, or nothing for Cancel.
  virtual std::optional<std::wstring> AskForAddress(const std::wstring& current) = 0;

 private:
  // One window of the dialog: what the console keeps of it.
  struct Window {
    int id = 0;
    bool isDialog = false;
    ControlKind kind = ControlKind::Static;
    std::wstring text;
    bool visible = false;
    std::intptr_t userData = 0;
  };
  struct Task {
    std::function<void()> run;
    bool* done;  // set once run has finished, for a caller that waits
  };

  // Runs task on the loop's thread: at once when called there (or when no loop runs), else
  // queued behind earlier calls; waits for it when wait is true.
  void Perform(std::function<void()> task, bool wait);
  bool PromptShownLocked() const;
  void Prompt();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;
  std::vector<std::unique_ptr<Window>> windows_;
  Window* dialog_ = nullptr;
  Window* edit_ = nullptr;
  Window* ok_ = nullptr;
  Window* cancel_ = nullptr;
  DialogProc proc_ = nullptr;
  std::thread::id loopThread_;
  bool looping_ = false;
  bool ended_ = false;
  bool threadEnded_ = false;
  std::intptr_t result_ = 0;
};

// One line of input as the edit box takes it: at most kEditTextLimit characters of UTF-8 are
// kept, the rest up to the line end is dropped, so a line of any length costs bounded memory.
class BoundedLine {
 public:
  // Takes bytes up to and including a line end; returns how many it took.
  std::size_t Take(const char* bytes, std::size_t count);
  void EndOfInput() { endOfInput_ = true; }
  // The line has ended, or the input has.
  bool Done() const { return ended_ || endOfInput_; }
  // The line without its line end ("\r\n" or "\n"); nothing at end of input before any byte.
  std::optional<std::string> Result();

 private:
  std::string kept_;
  std::size_t characters_ = 0;
  bool full_ = false;
  bool crKept_ = false;
  bool any_ = false;
  bool ended_ = false;
  bool endOfInput_ = false;
};

// The device's line break "\r\n" as a plain '\n'.
std::wstring WithPlainLineBreaks(std::wstring_view text);

}  // namespace platform
