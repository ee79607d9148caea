// The choice of the front end behind Dialogs(), and the front ends' names as --ui and
// FERROVAN_UI spell them on every host.
#include "platform/front_end.h"

#include "platform/host.h"

namespace platform {
namespace {

FrontEndKind selectedKind = FrontEndKind::Console;
DialogFrontEnd* windowFrontEnd = nullptr;

}  // namespace

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

bool ParseFrontEndKind(std::string_view text, FrontEndKind& kind) {
  if (text == "console") {
    kind = FrontEndKind::Console;
    return true;
  }
  if (text == "window") {
    kind = FrontEndKind::Window;
    return true;
  }
  return false;
}

const char* FrontEndName(FrontEndKind kind) {
  return kind == FrontEndKind::Window ? "window" : "console";
}

template <>
DialogFrontEnd& HostService<DialogFrontEnd>() {
  return selectedKind == FrontEndKind::Window ? *windowFrontEnd : ConsoleFrontEnd();
}

}  // namespace platform
