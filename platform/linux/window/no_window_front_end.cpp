// A build without the window toolkit: the console is the only front end.
#include "platform/host.h"

namespace platform {

bool WindowFrontEndBuilt() {
  return false;
}

DialogFrontEnd* OpenWindowFrontEnd() {
  return nullptr;
}

}  // namespace platform
