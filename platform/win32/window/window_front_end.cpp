// The loader dialog on the system's dialog manager. Every call is the system's own: they accept
// any thread, a sent WM_SETTEXT waits for the dialog's thread, and EndDialog from the worker
// ends the modal loop.
#include "platform/front_end.h"
#include "platform/host.h"
#include "platform/win32/windows_types.h"

#include <algorithm>
#include <climits>

namespace platform {
namespace {

class WindowFrontEnd final : public DialogFrontEnd {
 public:
  std::intptr_t RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                         std::intptr_t param) override {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(
        instance, MAKEINTRESOURCEW(static_cast<WORD>(dialogTemplate.resourceId)), RT_DIALOG);
    const HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
      return -1;
    }
    return DialogBoxIndirectParamW(instance, static_cast<const DLGTEMPLATE*>(data), nullptr, proc,
                                   param);
  }

  WindowHandle GetItem(WindowHandle dialog, int controlId) override {
    return GetDlgItem(dialog, controlId);
  }

  // The 64-bit form of GWL_USERDATA: a pointer does not fit the LONG of SetWindowLongW.
  void SetUserData(WindowHandle window, std::intptr_t value) override {
    SetWindowLongPtrW(window, GWLP_USERDATA, value);
  }
  std::intptr_t GetUserData(WindowHandle window) override {
    return GetWindowLongPtrW(window, GWLP_USERDATA);
  }

  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }

  void Move(WindowHandle window, int x, int y, int width, int height, bool repaint) override {
    MoveWindow(window, x, y, width, height, repaint ? TRUE : FALSE);
  }

  void Show(WindowHandle window, bool visible) override {
    ShowWindow(window, visible ? SW_SHOW : SW_HIDE);
  }

  bool IsVisible(WindowHandle window) override { return IsWindowVisible(window) != FALSE; }

  // Sent, so that the dialog's own thread moves the focus: another thread cannot.
  void Focus(WindowHandle control) override {
    SendMessageW(GetParent(control), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  }

  void SetText(WindowHandle window, const wchar_t* text) override {
    SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  }

  int GetText(WindowHandle window, std::span<wchar_t> text) override {
    if (text.empty()) {
      return 0;
    }
    const int size = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    return GetWindowTextW(window, text.data(), size);
  }

  void EndDialog(WindowHandle dialog, std::intptr_t result) override {
    ::EndDialog(dialog, result);
  }

  void MessageBox(const wchar_t* text, const wchar_t* caption) override {
    MessageBoxW(nullptr, text, caption, MB_OK);
  }
};

// Whether this process can make a window at all: under Wine without an X display, or in a
// service without a desktop, it cannot, and the dialog would fail.
bool CanMakeWindows() {
  const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
  if (probe == nullptr) {
    return false;
  }
  DestroyWindow(probe);
  return true;
}

}  // namespace

bool WindowFrontEndBuilt() {
  return true;
}

DialogFrontEnd* OpenWindowFrontEnd() {
  if (!CanMakeWindows()) {
    return nullptr;
  }
  static WindowFrontEnd frontEnd;
  return &frontEnd;
}

}  // namespace platform
