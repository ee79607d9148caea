// The calls of the front end from any thread: each is carried out on the window's thread, at
// once when called there, else queued for it.
#include <FL/Fl.H>

#include <algorithm>

#include "platform/host.h"
#include "platform/linux/window/window_front_end.h"

namespace platform {

WindowFrontEnd::Dispatch WindowFrontEnd::Enqueue(std::function<bool(const TaskPtr&)> run,
                                                 bool wait) {
  auto task = std::make_shared<Task>();
  task->run = std::move(run);
  std::unique_lock lock(mutex_);
  if (!open_) {
    return Dispatch::Closed;
  }
  tasks_.push_back(task);
  // One wake-up at a time: the toolkit's queue of them is bounded, ours is not.
  if (!wakePending_) {
    wakePending_ = true;
    Fl::awake(&Awake, this);
  }
  if (wait) {
    taskDone_.wait(lock, [&] { return task->done; });
  }
  return Dispatch::Queued;
}

WindowFrontEnd::Dispatch WindowFrontEnd::Deliver(const std::function<void()>& action, bool wait) {
  bool direct = false;
  {
    std::lock_guard lock(mutex_);
    if (!open_) {
      return Dispatch::Closed;
    }
    direct = windowThread_ == std::this_thread::get_id();
  }
  if (direct) {
    action();
    return Dispatch::Direct;
  }
  return Enqueue(
      [action](const TaskPtr&) {
        action();
        return true;
      },
      wait);
}

void WindowFrontEnd::Complete(const TaskPtr& task) {
  {
    std::lock_guard lock(mutex_);
    task->done = true;
  }
  taskDone_.notify_all();
}

void WindowFrontEnd::Drain() {
  for (;;) {
    TaskPtr task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) {
        wakePending_ = false;
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (task->run(task)) {
      Complete(task);
    }
  }
}

WindowHandle WindowFrontEnd::GetItem(WindowHandle dialog, int controlId) {
  Control* owner = FromHandle(dialog);
  if (owner == nullptr || !owner->isDialog) {
    return nullptr;
  }
  std::lock_guard lock(mutex_);
  for (const auto& control : controls_) {
    if (control->session == owner->session && !control->isDialog && control->id == controlId) {
      return ToHandle(control.get());
    }
  }
  return nullptr;
}

void WindowFrontEnd::SetUserData(WindowHandle window, std::intptr_t value) {
  if (Control* control = FromHandle(window)) {
    std::lock_guard lock(mutex_);
    control->userData = value;
  }
}

std::intptr_t WindowFrontEnd::GetUserData(WindowHandle window) {
  Control* control = FromHandle(window);
  if (control == nullptr) {
    return 0;
  }
  std::lock_guard lock(mutex_);
  return control->userData;
}

int WindowFrontEnd::GetSystemMetrics(int index) {
  std::lock_guard lock(mutex_);
  if (index == SM_CXSCREEN) {
    return screenWidth_;
  }
  return index == SM_CYSCREEN ? screenHeight_ : 0;
}

void WindowFrontEnd::Move(WindowHandle window, int x, int y, int width, int height, bool) {
  Control* control = FromHandle(window);
  if (control != nullptr) {
    Deliver([=, this] { DoMove(control, x, y, width, height); }, false);
  }
}

void WindowFrontEnd::Show(WindowHandle window, bool visible) {
  Control* control = FromHandle(window);
  if (control != nullptr && visible) {
    {
      std::lock_guard lock(mutex_);
      showRequested_ = true;
    }
    windowWanted_.notify_all();
  }
  if (control != nullptr) {
    Deliver([=, this] { DoShow(control, visible); }, false);
  }
}

bool WindowFrontEnd::IsVisible(WindowHandle window) {
  Control* control = FromHandle(window);
  bool visible = false;
  if (control != nullptr) {
    Deliver(
        [&] {
          visible = control->widget != nullptr ? control->widget->visible() : control->visible;
        },
        true);
  }
  return visible;
}

void WindowFrontEnd::Focus(WindowHandle window) {
  Control* control = FromHandle(window);
  if (control != nullptr) {
    Deliver([=, this] { DoFocus(control); }, false);
  }
}

void WindowFrontEnd::SetText(WindowHandle window, const wchar_t* text) {
  Control* control = FromHandle(window);
  if (control != nullptr) {
    const std::string narrow = WideToUtf8(text != nullptr ? text : L"");
    Deliver([=, this] { DoSetText(control, narrow); }, false);
  }
}

int WindowFrontEnd::GetText(WindowHandle window, std::span<wchar_t> text) {
  if (text.empty()) {
    return 0;
  }
  text[0] = L'\0';
  Control* control = FromHandle(window);
  if (control == nullptr) {
    return 0;
  }
  std::string narrow;
  Deliver([&, this] { narrow = DoGetText(control); }, true);
  const std::wstring wide = Utf8ToWide(narrow);
  const std::size_t length = std::min(wide.size(), text.size() - 1);
  std::copy_n(wide.begin(), length, text.begin());
  text[length] = L'\0';
  return static_cast<int>(length);
}

void WindowFrontEnd::EndDialog(WindowHandle dialog, std::intptr_t result) {
  Control* control = FromHandle(dialog);
  if (control != nullptr) {
    // Queued before it is announced, so that a window's thread that sees the request finds the
    // end among the calls to carry out.
    Deliver([=, this] { DoEnd(control, result); }, false);
    {
      std::lock_guard lock(mutex_);
      endRequested_ = endRequested_ || (control->isDialog && control->session == session_);
    }
    windowWanted_.notify_all();
  }
}

void WindowFrontEnd::MessageBox(const wchar_t* text, const wchar_t* caption) {
  const std::string narrowText = WideToUtf8(text != nullptr ? text : L"");
  const std::string narrowCaption = WideToUtf8(caption != nullptr ? caption : L"Error");
  bool queue = false;
  {
    std::lock_guard lock(mutex_);
    queue = open_ && windowThread_ != std::this_thread::get_id();
  }
  if (queue) {
    {
      std::lock_guard lock(mutex_);
      showRequested_ = true;
    }
    windowWanted_.notify_all();
    const Dispatch dispatch = Enqueue(
        [&, this](const TaskPtr& task) {
          // A box that comes before the dialog was shown stands in front of it.
          if (window_ != nullptr && !window_->shown()) {
            window_->show();
          }
          MessageBoxWindow* box = OpenMessageBox(narrowText, narrowCaption, [this, task] {
            auto entry = std::find_if(boxes_.begin(), boxes_.end(),
                                      [&](const auto& open) { return open.second == task; });
            if (entry != boxes_.end()) {
              Fl::delete_widget(entry->first);
              boxes_.erase(entry);
            }
            Complete(task);
          });
          boxes_.emplace_back(box, task);
          return false;
        },
        true);
    if (dispatch != Dispatch::Closed) {
      return;
    }
  }
  // On the window's own thread, or with no dialog running: the box runs its own loop here.
  Fl::lock();
  MessageBoxWindow* box = OpenMessageBox(narrowText, narrowCaption, nullptr);
  while (box->shown()) {
    Fl::wait();
  }
  delete box;
  Fl::flush();
  Fl::unlock();
}

MessageBoxWindow* WindowFrontEnd::OpenMessageBox(const std::string& text,
                                                 const std::string& caption,
                                                 std::function<void()> onDismiss) {
  OpenToolkit();
  int x = 0, y = 0, width = 0, height = 0;
  Fl::screen_xywh(x, y, width, height, 0);
  // The box shares the dialog's font; without a dialog it measures its own.
  static constexpr DialogTemplate kNoTemplate{};
  const DialogFont font =
      window_ != nullptr ? font_ : MeasureDialogFont(kNoTemplate, width, height);
  auto* box = new MessageBoxWindow(text, caption, font, width, height, std::move(onDismiss));
  box->show();
  return box;
}

}  // namespace platform
