// The dialog as the system's own window, made from the program's dialog resource.
#pragma once

#include "platform/dialog.h"

namespace platform {

// The window front end; null when no window can be made (no desktop, no display under Wine).
DialogFrontEnd* OpenWindowFrontEnd();

}  // namespace platform
