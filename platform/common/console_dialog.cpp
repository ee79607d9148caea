#include "platform/common/console_dialog.h"

#include <algorithm>

namespace platform {

namespace {

template <class Window>
Window* WindowOf(WindowHandle handle) {
  return reinterpret_cast<Window*>(handle);
}
template <class Window>
WindowHandle HandleOf(Window* window) {
  return reinterpret_cast<WindowHandle>(window);
}

}  // namespace

std::intptr_t ConsoleDialog::RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                                      std::intptr_t param) {
  WindowHandle dialog;
  {
    std::lock_guard lock(mutex_);
    windows_.clear();
    tasks_.clear();
    edit_ = ok_ = cancel_ = nullptr;
    auto& dialogWindow = windows_.emplace_back(std::make_unique<Window>());
    dialogWindow->isDialog = true;
    dialogWindow->visible = true;
    dialog_ = dialogWindow.get();
    for (const ControlTemplate& control : dialogTemplate.controls) {
      auto& window = windows_.emplace_back(std::make_unique<Window>());
      window->id = control.id;
      window->kind = control.kind;
      window->text = control.text != nullptr ? control.text : L"";
      window->visible = control.visible;
      if (control.kind == ControlKind::Edit) {
        edit_ = window.get();
      } else if (control.kind == ControlKind::DefaultPushButton) {
        ok_ = window.get();
      } else if (control.kind == ControlKind::PushButton) {
        cancel_ = window.get();
      }
    }
    proc_ = proc;
    loopThread_ = std::this_thread::get_id();
    looping_ = true;
    ended_ = false;
    threadEnded_ = false;
    result_ = 0;
    dialog = HandleOf(dialog_);
  }
  proc(dialog, WM_INITDIALOG, 0, param);

  std::unique_lock lock(mutex_);
  while (!ended_) {
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task.run();
      lock.lock();
      if (task.done != nullptr) {
        *task.done = true;
        changed_.notify_all();
      }
      continue;
    }
    // The prompt is asked only once the worker that showed it has ended and everything it
    // queued has been carried out, so the edit box holds its final text.
    if (threadEnded_) {
      threadEnded_ = false;
      if (PromptShownLocked()) {
        lock.unlock();
        Prompt();
        lock.lock();
      }
      continue;
    }
    changed_.wait(lock);
  }
  looping_ = false;
  for (Task& task : tasks_) {
    if (task.done != nullptr) {
      *task.done = true;
    }
  }
  tasks_.clear();
  changed_.notify_all();
  return result_;
}

void ConsoleDialog::Perform(std::function<void()> task, bool wait) {
  std::unique_lock lock(mutex_);
  if (!looping_ || std::this_thread::get_id() == loopThread_) {
    lock.unlock();
    task();
    return;
  }
  bool done = false;
  tasks_.push_back({std::move(task), wait ? &done : nullptr});
  changed_.notify_all();
  if (wait) {
    changed_.wait(lock, [&done] { return done; });
  }
}

bool ConsoleDialog::PromptShownLocked() const {
  return edit_ != nullptr && ok_ != nullptr && cancel_ != nullptr && edit_->visible &&
         ok_->visible && cancel_->visible;
}

WindowHandle ConsoleDialog::GetItem(WindowHandle dialog, int controlId) {
  std::lock_guard lock(mutex_);
  if (dialog == nullptr || WindowOf<Window>(dialog) != dialog_) {
    return nullptr;
  }
  for (const auto& window : windows_) {
    if (!window->isDialog && window->id == controlId) {
      return HandleOf(window.get());
    }
  }
  return nullptr;
}

void ConsoleDialog::SetUserData(WindowHandle window, std::intptr_t value) {
  if (window == nullptr) {
    return;
  }
  std::lock_guard lock(mutex_);
  WindowOf<Window>(window)->userData = value;
}

std::intptr_t ConsoleDialog::GetUserData(WindowHandle window) {
  if (window == nullptr) {
    return 0;
  }
  std::lock_guard lock(mutex_);
  return WindowOf<Window>(window)->userData;
}

void ConsoleDialog::Show(WindowHandle window, bool visible) {
  if (window == nullptr) {
    return;
  }
  Perform(
      [this, window, visible] {
        std::lock_guard lock(mutex_);
        WindowOf<Window>(window)->visible = visible;
      },
      false);
}

// A read waits for the updates posted before it (Show, EndDialog), queued behind them.
bool ConsoleDialog::IsVisible(WindowHandle window) {
  if (window == nullptr) {
    return false;
  }
  bool visible = false;
  Perform(
      [this, window, &visible] {
        std::lock_guard lock(mutex_);
        visible = WindowOf<Window>(window)->visible;
      },
      true);
  return visible;
}

void ConsoleDialog::SetText(WindowHandle window, const wchar_t* text) {
  if (window == nullptr) {
    return;
  }
  std::wstring copy = text != nullptr ? text : L"";
  Perform(
      [this, window, &copy] {
        Window* target = WindowOf<Window>(window);
        bool isStatus;
        {
          std::lock_guard lock(mutex_);
          target->text = copy;
          isStatus = !target->isDialog && target->kind == ControlKind::Static;
        }
        if (isStatus) {
          ShowStatus(copy);
        }
      },
      true);
}

int ConsoleDialog::GetText(WindowHandle window, std::span<wchar_t> text) {
  if (window == nullptr || text.empty()) {
    return 0;
  }
  std::wstring current;
  Perform(
      [this, window, &current] {
        std::lock_guard lock(mutex_);
        current = WindowOf<Window>(window)->text;
      },
      true);
  const std::size_t length = std::min(current.size(), text.size() - 1);
  std::copy_n(current.begin(), length, text.begin());
  text[length] = L'\0';
  return static_cast<int>(length);
}

void ConsoleDialog::EndDialog(WindowHandle dialog, std::intptr_t result) {
  if (dialog == nullptr) {
    return;
  }
  Perform(
      [this, result] {
        std::lock_guard lock(mutex_);
        ended_ = true;
        result_ = result;
      },
      false);
}

void ConsoleDialog::BackgroundThreadEnded() {
  std::lock_guard lock(mutex_);
  threadEnded_ = true;
  changed_.notify_all();
}

void ConsoleDialog::Prompt() {
  std::wstring current;
  DialogProc proc;
  WindowHandle dialog;
  Window* ok;
  Window* cancel;
  {
    std::lock_guard lock(mutex_);
    current = edit_->text;
    proc = proc_;
    dialog = HandleOf(dialog_);
    ok = ok_;
    cancel = cancel_;
  }
  std::optional<std::wstring> line = AskForAddress(current);
  if (line.has_value()) {
    std::lock_guard lock(mutex_);
    edit_->text = std::move(*line);
  }
  Window* control = line.has_value() ? ok : cancel;
  proc(dialog, WM_COMMAND, static_cast<std::uintptr_t>(control->id & 0xFFFF),
       reinterpret_cast<std::intptr_t>(HandleOf(control)));
}

std::size_t BoundedLine::Take(const char* bytes, std::size_t count) {
  any_ = any_ || count > 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char byte = bytes[i];
    if (byte == '\n') {
      ended_ = true;
      return i + 1;
    }
    // Cut only in front of a character's first byte, so no character is kept in part.
    if ((byte & 0xC0) != 0x80) {
      if (characters_ == kEditTextLimit) {
        full_ = true;
      } else if (!full_) {
        ++characters_;
      }
    }
    if (!full_) {
      kept_ += byte;
    }
    crKept_ = !full_ && byte == '\r';
  }
  return count;
}

std::optional<std::string> BoundedLine::Result() {
  if (!any_) {
    return std::nullopt;
  }
  // "\r\n" ends a line as "\n" does. A last line without its line end still counts.
  if (ended_ && crKept_) {
    kept_.pop_back();
  }
  return kept_;
}

std::wstring WithPlainLineBreaks(std::wstring_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      continue;
    }
    result += text[i];
  }
  return result;
}

}  // namespace platform
