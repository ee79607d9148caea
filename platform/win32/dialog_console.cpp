// Placeholder until the Win32 implementation lands.
#include "platform/dialog.h"

namespace platform {
namespace {

class Pending final : public DialogFrontEnd {
 public:
  std::intptr_t RunModal(const DialogTemplate&, DialogProc, std::intptr_t) override { return -1; }
  WindowHandle GetItem(WindowHandle, int) override { return nullptr; }
  void SetUserData(WindowHandle, std::intptr_t) override {}
  std::intptr_t GetUserData(WindowHandle) override { return 0; }
  int GetSystemMetrics(int) override { return 0; }
  void Move(WindowHandle, int, int, int, int, bool) override {}
  void Show(WindowHandle, bool) override {}
  void SetText(WindowHandle, const wchar_t*) override {}
  int GetText(WindowHandle, std::span<wchar_t>) override { return 0; }
  void EndDialog(WindowHandle, std::intptr_t) override {}
  void MessageBox(const wchar_t*, const wchar_t*) override {}
};

}  // namespace

template <>
DialogFrontEnd& HostService<DialogFrontEnd>() {
  static Pending service;
  return service;
}

}  // namespace platform
