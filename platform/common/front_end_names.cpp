// The front ends' names, as --ui and FERROVAN_UI spell them on every host.
#include "platform/front_end.h"

namespace platform {

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

}  // namespace platform
