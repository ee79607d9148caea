// The window front end's dialog on the window's thread: made, run until it ends, and closed;
// and the opening of the front end.
#include "platform/linux/window/window_front_end.h"

#include <FL/Fl.H>

#include <cstdint>
#include <memory>

#include "platform/host.h"
#include "platform/linux/window/paint_notice.h"
#include "platform/linux/window/widgets.h"

// Last: Xlib's macros (None, Bool, Status ...) must not meet the headers above.
#include <FL/x.H>

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

}  // namespace

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
  int screenX = 0, screenY = 0, screenWidth = 0, screenHeight = 0;
  Fl::screen_xywh(screenX, screenY, screenWidth, screenHeight, 0);
  font_ = MeasureDialogFont(dialogTemplate, screenWidth, screenHeight);

  const PixelRect frame = ToPixels(font_, dialogTemplate.x, dialogTemplate.y, dialogTemplate.width,
                                   dialogTemplate.height);
  auto window = std::make_unique<DialogWindow>(frame.x, frame.y, frame.width, frame.height);
  window->clear_border();
  window->xclass(kWindowClass);
  window->color(kDialogColor);
  // Controls keep their places and sizes when the dialog is made to fill the screen.
  window->resizable(nullptr);
  window->callback(&OnDialogClose, this);
  SetLoaderIcons(*window);

  window_ = window.get();
  proc_ = proc;
  ended_ = false;
  result_ = 0;
  dialog_ = NewControl(session, 0, true, ControlKind::Static, window.get());
  dialogControls_.clear();
  // Children are added in template order, which the toolkit's keyboard navigation follows.
  for (const ControlTemplate& item : dialogTemplate.controls) {
    Fl_Widget* widget =
        CreateWidget(item, ToPixels(font_, item.x, item.y, item.width, item.height));
    Control* control = NewControl(session, item.id, false, item.kind, widget);
    widget->callback(&OnControl, control);
    DoSetText(control, WideToUtf8(item.text != nullptr ? item.text : L""));
    if (!item.visible) {
      widget->hide();
    }
    dialogControls_.push_back(control);
  }
  window->end();

  {
    std::lock_guard lock(mutex_);
    windowThread_ = std::this_thread::get_id();
    screenWidth_ = screenWidth;
    screenHeight_ = screenHeight;
    open_ = true;
  }

  Control* firstTabStop = nullptr;
  for (std::size_t i = 0; i < dialogTemplate.controls.size(); ++i) {
    if (dialogTemplate.controls[i].visible && dialogControls_[i]->kind != ControlKind::Static) {
      firstTabStop = dialogControls_[i];
      break;
    }
  }
  const std::intptr_t setFocus =
      proc(ToHandle(dialog_), WM_INITDIALOG,
           reinterpret_cast<std::uintptr_t>(ToHandle(firstTabStop)), param);
  // EndDialog during the initialisation ends the dialog before it is ever shown.
  if (!ended_) {
    if (setFocus != 0) {
      FocusFirstTabStop();
    }
    window->show();
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

bool WindowFrontEnd::ControlRect(const DialogTemplate& dialogTemplate, int controlId,
                                 PixelRect& rect) {
  int x = 0, y = 0, width = 0, height = 0;
  Fl::screen_xywh(x, y, width, height, 0);
  const DialogFont font = MeasureDialogFont(dialogTemplate, width, height);
  for (const ControlTemplate& item : dialogTemplate.controls) {
    if (item.id == controlId) {
      rect = ToPixels(font, item.x, item.y, item.width, item.height);
      return true;
    }
  }
  return false;
}

namespace {

WindowFrontEnd* theFrontEnd = nullptr;

}  // namespace

bool WindowFrontEndBuilt() {
  return true;
}

DialogFrontEnd* OpenWindowFrontEnd() {
  if (theFrontEnd != nullptr) {
    return theFrontEnd;
  }
  // The toolkit ends the process when it cannot open the display itself; opening it here first
  // turns that into a null result, so the console can take over.
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return nullptr;
  }
  fl_open_display(display);
  TakePaintNotice();
  Fl::scheme("gtk+");
  Fl::background(0xEC, 0xEC, 0xEC);  // buttons: light grey on the white dialog
  int x = 0, y = 0, width = 0, height = 0;
  Fl::screen_xywh(x, y, width, height, 0);
  // Kept until the process ends: a worker may still be finishing when the dialog has closed.
  theFrontEnd = new WindowFrontEnd(width, height);
  return theFrontEnd;
}

bool WindowControlRect(const DialogTemplate& dialogTemplate, int controlId, PixelRect& rect) {
  return theFrontEnd != nullptr && theFrontEnd->ControlRect(dialogTemplate, controlId, rect);
}

}  // namespace platform
