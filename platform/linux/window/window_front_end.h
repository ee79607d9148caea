// The window front end: the loader dialog as a borderless full-screen FLTK window.
//
// The thread that calls RunModal owns every widget. Other threads reach the window only through
// tasks queued here and run by that thread inside its event loop (woken with Fl::awake): reads
// wait for their task, as a sent window message does; text updates, showing, moving and ending
// are handed over without waiting, so that the worker never waits for the window to draw.
//
// The dialog procedure gets WM_INITDIALOG (which starts the worker) before the window is made:
// the controls exist as records first, and the widgets are made from what the records hold then.
// The window is made once something is to be shown (a control, a message box) or after a grace
// time: a run that starts the client sooner never opens it and spares the client its cost.
//
// window_front_end.cpp runs the dialog, window_calls.cpp takes the calls from any thread and
// queues them, window_controls.cpp carries them out on the widgets.
#pragma once

#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Widget.H>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dialog.h"
#include "platform/linux/window/control_layout.h"
#include "platform/linux/window/dialog_units.h"
#include "platform/linux/window/message_box.h"

namespace platform {

class WindowFrontEnd;

// Hands the display that OpenWindowFrontEnd opened to the toolkit, once; before any other use of
// the toolkit, with Fl::lock held.
void OpenToolkit();
// Whether OpenWindowFrontEnd has opened the front end.
bool WindowFrontEndOpen();

// What a window handle points to: one per control and one for the dialog, kept until the front
// end goes, so that a handle stays a valid pointer even after its dialog has closed.
struct Control {
  WindowFrontEnd* owner = nullptr;
  unsigned session = 0;
  int id = 0;
  bool isDialog = false;
  ControlKind kind = ControlKind::Static;
  Fl_Widget* widget = nullptr;  // window thread only; null before the window is made and after
  // Window thread only: the text of all but the edit box, and until the widget is made what it
  // is to show (text, visibility, place).
  std::string text;
  bool visible = true;
  std::optional<PixelRect> place;
  std::intptr_t userData = 0;  // guarded by the front end's mutex
};

inline Control* FromHandle(WindowHandle handle) {
  return reinterpret_cast<Control*>(handle);
}
inline WindowHandle ToHandle(Control* control) {
  return reinterpret_cast<WindowHandle>(control);
}

class WindowFrontEnd final : public DialogFrontEnd {
 public:
  WindowFrontEnd(int screenWidth, int screenHeight)
      : screenWidth_(screenWidth), screenHeight_(screenHeight) {}

  std::intptr_t RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                         std::intptr_t param) override;
  WindowHandle GetItem(WindowHandle dialog, int controlId) override;
  void SetUserData(WindowHandle window, std::intptr_t value) override;
  std::intptr_t GetUserData(WindowHandle window) override;
  int GetSystemMetrics(int index) override;
  void Move(WindowHandle window, int x, int y, int width, int height, bool repaint) override;
  void Show(WindowHandle window, bool visible) override;
  bool IsVisible(WindowHandle window) override;
  void Focus(WindowHandle control) override;
  void SetText(WindowHandle window, const wchar_t* text) override;
  int GetText(WindowHandle window, std::span<wchar_t> text) override;
  void EndDialog(WindowHandle dialog, std::intptr_t result) override;
  void MessageBox(const wchar_t* text, const wchar_t* caption) override;

 private:
  // Work for the window's thread. run returns true when the task is complete at once; a message
  // box completes its task later, when it is dismissed.
  struct Task {
    std::function<bool(const std::shared_ptr<Task>&)> run;
    bool done = false;
  };
  using TaskPtr = std::shared_ptr<Task>;

  enum class Dispatch { Direct, Queued, Closed };

  // Runs action here when called on the window's thread, else queues it (and, with wait, blocks
  // until it has run or the dialog has closed).
  Dispatch Deliver(const std::function<void()>& action, bool wait);
  Dispatch Enqueue(std::function<bool(const TaskPtr&)> run, bool wait);
  void Complete(const TaskPtr& task);
  static void Awake(void* self) { static_cast<WindowFrontEnd*>(self)->Drain(); }
  void Drain();

  Control* NewControl(unsigned session, int id, bool isDialog, ControlKind kind);
  Fl_Widget* CreateWidget(const ControlTemplate& control, const PixelRect& rect);
  // Makes the window and its widgets from the controls' records; the dialog's calls made
  // meanwhile are carried out once they exist.
  // Null when the dialog's end was asked for before the window was complete.
  std::unique_ptr<Fl_Double_Window> MakeWindow(const DialogTemplate& dialogTemplate);
  // Whether EndDialog has been called for the running dialog, from any thread.
  bool EndRequested();
  // Waits until the window is needed: something is to be shown, the dialog has ended, or the
  // grace time has passed.
  void AwaitNeedOfWindow();
  void CloseDialog();
  void FocusFirstTabStop();
  static void OnControl(Fl_Widget* widget, void* control);
  static void OnDialogClose(Fl_Widget* widget, void* self);
  void Command(unsigned code, int id, Control* control);

  void DoMove(Control* control, int x, int y, int width, int height);
  void DoShow(Control* control, bool visible);
  void DoFocus(Control* control);
  void DoSetText(Control* control, const std::string& text);
  std::string DoGetText(Control* control);
  void DoEnd(Control* control, std::intptr_t result);
  MessageBoxWindow* OpenMessageBox(const std::string& text, const std::string& caption,
                                   std::function<void()> onDismiss);

  std::mutex mutex_;
  std::condition_variable taskDone_;
  std::condition_variable windowWanted_;
  // Guarded by mutex_.
  std::deque<std::unique_ptr<Control>> controls_;
  std::deque<TaskPtr> tasks_;
  std::thread::id windowThread_;
  bool open_ = false;
  bool wakePending_ = false;
  bool endRequested_ = false;
  bool showRequested_ = false;  // a control shown or a message box asked for
  unsigned session_ = 0;
  int screenWidth_;
  int screenHeight_;

  // The window's thread only.
  Fl_Double_Window* window_ = nullptr;
  Control* dialog_ = nullptr;
  std::vector<Control*> dialogControls_;
  Control* focus_ = nullptr;  // asked for before the window was made
  DialogProc proc_ = nullptr;
  DialogFont font_;
  bool ended_ = false;
  std::intptr_t result_ = 0;
  std::vector<std::pair<MessageBoxWindow*, TaskPtr>> boxes_;
};

}  // namespace platform
