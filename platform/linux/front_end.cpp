#include "platform/front_end.h"

#include "platform/linux/dialog_console.h"
#if FERROVAN_HAVE_WINDOW
#include "platform/linux/dialog_window.h"
#endif

namespace platform {
namespace {

FrontEndKind selectedKind = FrontEndKind::Console;
DialogFrontEnd* windowFrontEnd = nullptr;

}  // namespace

bool WindowFrontEndBuilt() {
#if FERROVAN_HAVE_WINDOW
  return true;
#else
  return false;
#endif
}

bool SelectFrontEnd(FrontEndKind kind) {
  if (kind == FrontEndKind::Console) {
    selectedKind = FrontEndKind::Console;
    return true;
  }
#if FERROVAN_HAVE_WINDOW
  if (windowFrontEnd == nullptr) {
    windowFrontEnd = OpenWindowFrontEnd();
  }
  if (windowFrontEnd != nullptr) {
    selectedKind = FrontEndKind::Window;
    return true;
  }
#endif
  return false;
}

FrontEndKind SelectedFrontEnd() {
  return selectedKind;
}

template <>
DialogFrontEnd& HostService<DialogFrontEnd>() {
  return selectedKind == FrontEndKind::Window ? *windowFrontEnd : ConsoleFrontEnd();
}

}  // namespace platform
