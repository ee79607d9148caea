// The dialog manager: a front end that shows the loader's one dialog (console or window) and
// runs its modal loop. The dialog's own logic lives with the loader and sees only this.
#pragma once

#include <cstdint>
#include <span>

#include "platform/service.h"
#include "platform/windows_types.h"

namespace platform {

enum class ControlKind { DefaultPushButton, PushButton, Edit, Static };

// A dialog template, in dialog units. Control styles are the device's window style bits.
struct ControlTemplate {
  int id;
  ControlKind kind;
  const wchar_t* text;
  std::uint32_t style;
  int x, y, width, height;
  bool visible;
};

struct DialogTemplate {
  std::uint32_t style;
  int x, y, width, height;
  const wchar_t* fontName;
  int fontPointSize;
  std::span<const ControlTemplate> controls;  // in tab order
  // The program's dialog resource with this same template, for a host that has real ones.
  int resourceId;
};

class DialogFrontEnd {
 public:
  virtual ~DialogFrontEnd() = default;

  // DialogBoxIndirectParamW: creates the dialog, sends WM_INITDIALOG with param as lParam to
  // proc and runs the modal loop on the calling thread until EndDialog; returns its result.
  // Commands from the controls reach proc as WM_COMMAND with the control id in the low word.
  virtual std::intptr_t RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                                 std::intptr_t param) = 0;

  // The following may be called from any thread while the modal loop runs. Every front end
  // carries out one thread's calls in the order that thread makes them, and a read (IsVisible,
  // GetText) sees every update that the same thread made before it. An update may therefore be
  // posted, with a copy of what it carries, as long as a later read waits for every earlier
  // update. GetItem, SetUserData, GetUserData and GetSystemMetrics take effect at once on every
  // front end; what the others do differs:
  //   the Windows window: each is the system's own call; SetText and Focus are sent messages,
  //     carried out on the loop's thread while the caller waits, and so are Show and Move on a
  //     window of that thread; EndDialog ends the loop once it next looks;
  //   the Linux window: SetText (with a copy of its text), Show, Move, Focus and EndDialog are
  //     posted to the loop's thread and the caller goes on; IsVisible and GetText are queued
  //     behind them and wait for their turn, so the worker never waits for the window to draw;
  //   the consoles: SetText waits until the loop's thread has shown the text; Show and EndDialog
  //     are posted; Move and Focus do nothing; IsVisible and GetText wait for every posted update.
  // Called on the loop's thread (from the dialog procedure), each call is carried out at once.
  virtual WindowHandle GetItem(WindowHandle dialog, int controlId) = 0;
  virtual void SetUserData(WindowHandle window, std::intptr_t value) = 0;
  virtual std::intptr_t GetUserData(WindowHandle window) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual void Move(WindowHandle window, int x, int y, int width, int height, bool repaint) = 0;
  virtual void Show(WindowHandle window, bool visible) = 0;
  // IsWindowVisible: whether the window is shown.
  virtual bool IsVisible(WindowHandle window) = 0;
  // WM_NEXTDLGCTL with the control: it gets the keyboard focus, an edit box with its whole text
  // selected, so that what is typed replaces it.
  virtual void Focus(WindowHandle control) = 0;
  // WM_SETTEXT: text only needs to live for the call (a front end that posts it posts a copy).
  virtual void SetText(WindowHandle window, const wchar_t* text) = 0;
  // GetWindowTextW: at most text.size() - 1 characters and the terminator; returns the length.
  virtual int GetText(WindowHandle window, std::span<wchar_t> text) = 0;
  virtual void EndDialog(WindowHandle dialog, std::intptr_t result) = 0;
  // MessageBoxW with no owner and one Ok button; returns when the user has dismissed it.
  virtual void MessageBox(const wchar_t* text, const wchar_t* caption) = 0;

  // Told by the thread service each time a background thread has ended, so that a front end
  // that cannot show a prompt while work goes on (the console) knows when to ask.
  virtual void BackgroundThreadEnded() {}
};

inline DialogFrontEnd& Dialogs() {
  return Use<DialogFrontEnd>();
}

}  // namespace platform
