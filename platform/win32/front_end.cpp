#include "platform/front_end.h"

#include "platform/win32/dialog_console.h"
#include "platform/win32/dialog_window.h"

namespace platform {
namespace {

FrontEndKind selectedKind = FrontEndKind::Console;
DialogFrontEnd* windowFrontEnd = nullptr;

}  // namespace

bool WindowFrontEndBuilt() {
  return true;
}

bool SelectFrontEnd(FrontEndKind kind) {
  if (kind == FrontEndKind::Console) {
    selectedKind = FrontEndKind::Console;
    return true;
  }
  if (windowFrontEnd == nullptr) {
    windowFrontEnd = OpenWindowFrontEnd();
  }
  if (windowFrontEnd == nullptr) {
    return false;
  }
  selectedKind = FrontEndKind::Window;
  return true;
}

FrontEndKind SelectedFrontEnd() {
  return selectedKind;
}

template <>
DialogFrontEnd& HostService<DialogFrontEnd>() {
  return selectedKind == FrontEndKind::Window ? *windowFrontEnd : ConsoleFrontEnd();
}

}  // namespace platform
