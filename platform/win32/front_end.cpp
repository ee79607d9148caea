// Placeholder until the Win32 implementation lands.
#include "platform/front_end.h"

namespace platform {

bool WindowFrontEndBuilt() {
  return true;
}

bool SelectFrontEnd(FrontEndKind) {
  return false;
}

FrontEndKind SelectedFrontEnd() {
  return FrontEndKind::Console;
}

bool ParseFrontEndKind(std::string_view, FrontEndKind&) {
  return false;
}

const char* FrontEndName(FrontEndKind kind) {
  return kind == FrontEndKind::Window ? "window" : "console";
}

}  // namespace platform
