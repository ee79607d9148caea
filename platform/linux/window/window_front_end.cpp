// The window front end's dialog on the window's thread: made, run until it ends, and closed;
// and the opening of the front end.
#include "platform/linux/window/window_front_end.h"

#include <FL/Fl.H>

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/host.h"
#include "platform/linux/window/paint_notice.h"
#include "platform/linux/window/widgets.h"

// Last: Xlib's macros (None, Bool, Status ...) must not meet the headers above.
#include <FL/x.H>
#include <X11/extensions/Xinerama.h>

#if defined(__SANITIZE_ADDRESS__)
// The font library keeps its pattern caches for the life of the process and never frees them;
// the leak checker is told so, since it cannot unwind through the library's frames.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

namespace platform {
namespace {

constexpr unsigned BN_CLICKED = 0;
constexpr unsigned EN_CHANGE = 0x0300;
// How long a dialog waits before it shows its window with nothing asked to be shown: the
// everyday start reaches the client well within it.
constexpr auto kWindowGraceTime = std::chrono::milliseconds(250);

WindowFrontEnd* theFrontEnd = nullptr;
// Opened when the front end is chosen; the toolkit takes it over only when the first window is
// made, off the worker's way.
Display* theDisplay = nullptr;

// The first screen's size as the toolkit finds it, read without the toolkit.
void FirstScreenSize(Display* display, int& width, int& height) {
  if (XineramaIsActive(display)) {
    int count = 0;
    XineramaScreenInfo* screens = XineramaQueryScreens(display, &count);
    const bool found = screens != nullptr && count > 0;
    if (found) {
      width = screens[0].width;
      height = screens[0].height;
    }
    if (screens != nullptr) {
      XFree(screens);
    }
    if (found) {
      return;
    }
  }
  const int screen = DefaultScreen(display);
  width = DisplayWidth(display, screen);
  height = DisplayHeight(display, screen);
}

}  // namespace

void OpenToolkit() {
  if (fl_display != nullptr) {
    return;
  }
  fl_open_display(theDisplay);
  TakePaintNotice();
  Fl::scheme("gtk+");
  Fl::background(0xEC, 0xEC, 0xEC);  // buttons: light grey on the white dialog
}

std::intptr_t WindowFrontEnd::RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                                       std::intptr_t param) {
  Fl::lock();
  unsigned session = 0;
  {
    std::lock_guard lock(mutex_);
    if (open_) {
      Fl::unlock();
      return -1;  // one dialog at a time
    }
    session = ++session_;
  }
  proc_ = proc;
  ended_ = false;
  {
    std::lock_guard lock(mutex_);
    endRequested_ = false;
    showRequested_ = false;
  }
  result_ = 0;
  focus_ = nullptr;
  dialog_ = NewControl(session, 0, true, ControlKind::Static);
  dialogControls_.clear();
  Control* firstTabStop = nullptr;
  for (const ControlTemplate& item : dialogTemplate.controls) {
    Control* control = NewControl(session, item.id, false, item.kind);
    control->text = WideToUtf8(item.text != nullptr ? item.text : L"");
    control->visible = item.visible;
    if (firstTabStop == nullptr && item.visible && item.kind != ControlKind::Static) {
      firstTabStop = control;
    }
    dialogControls_.push_back(control);
  }
  int screenWidth = 0, screenHeight = 0;
  FirstScreenSize(fl_display != nullptr ? fl_display : theDisplay, screenWidth, screenHeight);
  {
    std::lock_guard lock(mutex_);
    windowThread_ = std::this_thread::get_id();
    screenWidth_ = screenWidth;
    screenHeight_ = screenHeight;
    open_ = true;
  }

  const std::intptr_t setFocus =
      proc(ToHandle(dialog_), WM_INITDIALOG,
           reinterpret_cast<std::uintptr_t>(ToHandle(firstTabStop)), param);
  // EndDialog during the initialisation ends the dialog before it is ever shown; so does one
  // that came while the window was made.
  std::unique_ptr<Fl_Double_Window> window;
  // As with the device's dialog manager, a true result puts the focus on the first tab stop
  // after the initialisation; a later call to focus a control wins.
  const auto makeWindow = [&] {
    window = MakeWindow(dialogTemplate);
    if (window != nullptr && setFocus != 0) {
      FocusFirstTabStop();
    } else if (window != nullptr && focus_ != nullptr) {
      DoFocus(focus_);
    }
  };
  AwaitNeedOfWindow();
  if (!ended_ && !EndRequested()) {
    makeWindow();
  }
  // The calls made meanwhile, on the widgets when there are any.
  Drain();
  while (!ended_ && window == nullptr) {
    makeWindow();
    Drain();
  }
  if (!ended_) {
    // Shown already when a message box came first: showing again would raise it over the box.
    if (!window->shown()) {
      window->show();
    }
    while (!ended_) {
      Fl::wait();
    }
  }
  CloseDialog();
  window.reset();
  Fl::flush();
  Fl::unlock();
  return result_;
}

bool WindowFrontEnd::EndRequested() {
  std::lock_guard lock(mutex_);
  return endRequested_;
}

void WindowFrontEnd::AwaitNeedOfWindow() {
  std::unique_lock lock(mutex_);
  windowWanted_.wait_for(lock, kWindowGraceTime, [&] { return endRequested_ || showRequested_; });
}

std::unique_ptr<Fl_Double_Window> WindowFrontEnd::MakeWindow(const DialogTemplate& dialogTemplate) {
  OpenToolkit();
  // Opening the toolkit takes a while: a worker that has already ended the dialog spares the
  // fonts and the first drawing.
  if (EndRequested()) {
    return nullptr;
  }
  int screenX = 0, screenY = 0, screenWidth = 0, screenHeight = 0;
  Fl::screen_xywh(screenX, screenY, screenWidth, screenHeight, 0);
  font_ = MeasureDialogFont(dialogTemplate, screenWidth, screenHeight);

  const PixelRect frame = dialog_->place.value_or(ToPixels(
      font_, dialogTemplate.x, dialogTemplate.y, dialogTemplate.width, dialogTemplate.height));
  auto window = std::make_unique<DialogWindow>(frame.x, frame.y, frame.width, frame.height);
  window->clear_border();
  window->xclass(kWindowClass);
  window->color(kDialogColor);
  // Controls keep their places and sizes when the dialog is made to fill the screen.
  window->resizable(nullptr);
  window->callback(&OnDialogClose, this);
  SetLoaderIcons(*window);
  // Children are added in template order, which the toolkit's keyboard navigation follows.
  for (std::size_t i = 0; i < dialogTemplate.controls.size(); ++i) {
    const ControlTemplate& item = dialogTemplate.controls[i];
    Control* control = dialogControls_[i];
    Fl_Widget* widget = CreateWidget(
        item, control->place.value_or(ToPixels(font_, item.x, item.y, item.width, item.height)));
    control->widget = widget;
    widget->callback(&OnControl, control);
    DoSetText(control, std::string(control->text));
    if (!control->visible) {
      widget->hide();
    }
  }
  window->end();
  window_ = window.get();
  dialog_->widget = window.get();
  if (!dialog_->text.empty()) {
    DoSetText(dialog_, std::string(dialog_->text));
  }
  return window;
}

void WindowFrontEnd::CloseDialog() {
  std::deque<TaskPtr> cancelled;
  {
    std::lock_guard lock(mutex_);
    open_ = false;
    cancelled.swap(tasks_);
    for (const TaskPtr& task : cancelled) {
      task->done = true;
    }
  }
  taskDone_.notify_all();
  // A box still open belongs to a caller that must not wait for a dialog that is gone.
  auto boxes = std::move(boxes_);
  boxes_.clear();
  for (auto& [box, task] : boxes) {
    box->hide();
    Complete(task);
    Fl::delete_widget(box);
  }
  for (Control* control : dialogControls_) {
    control->widget = nullptr;
  }
  dialog_->widget = nullptr;
  dialogControls_.clear();
  window_ = nullptr;
}

void WindowFrontEnd::FocusFirstTabStop() {
  for (Control* control : dialogControls_) {
    if (control->kind != ControlKind::Static && control->widget->visible()) {
      control->widget->take_focus();
      return;
    }
  }
}

void WindowFrontEnd::OnControl(Fl_Widget*, void* data) {
  auto* control = static_cast<Control*>(data);
  control->owner->Command(control->kind == ControlKind::Edit ? EN_CHANGE : BN_CLICKED, control->id,
                          control);
}

// Escape and a close request reach the dialog as IDCANCEL, as with the device's dialog manager;
// the loader's dialog ignores it, so Cancel stays the only way out.
void WindowFrontEnd::OnDialogClose(Fl_Widget*, void* self) {
  static_cast<WindowFrontEnd*>(self)->Command(0, IDCANCEL, nullptr);
}

void WindowFrontEnd::Command(unsigned code, int id, Control* control) {
  if (proc_ == nullptr || dialog_ == nullptr || ended_) {
    return;
  }
  const auto wParam =
      static_cast<std::uintptr_t>((code << 16) | (static_cast<unsigned>(id) & 0xFFFF));
  proc_(ToHandle(dialog_), WM_COMMAND, wParam,
        reinterpret_cast<std::intptr_t>(control != nullptr ? ToHandle(control) : nullptr));
}

bool WindowFrontEndBuilt() {
  return true;
}

DialogFrontEnd* OpenWindowFrontEnd() {
  if (theFrontEnd != nullptr) {
    return theFrontEnd;
  }
  // The toolkit ends the process when it cannot open the display itself; opening it here first
  // turns that into a null result, so the console can take over.
  theDisplay = XOpenDisplay(nullptr);
  if (theDisplay == nullptr) {
    return nullptr;
  }
  int width = 0, height = 0;
  FirstScreenSize(theDisplay, width, height);
  // Kept until the process ends: a worker may still be finishing when the dialog has closed.
  theFrontEnd = new WindowFrontEnd(width, height);
  return theFrontEnd;
}

bool WindowFrontEndOpen() {
  return theFrontEnd != nullptr;
}

}  // namespace platform
