// The window front end (a desktop toolkit), present when the build has one.
#pragma once

#include "platform/dialog.h"

namespace platform {

// Opens the window front end; null when no display can be opened.
DialogFrontEnd* OpenWindowFrontEnd();

}  // namespace platform
