// The console front end: the dialog in a terminal or a pipe.
#pragma once

#include <memory>

#include "platform/common/console_dialog.h"
#include "platform/dialog.h"
#include "platform/host.h"

namespace platform {

// A console front end on other descriptors (for tests).
std::unique_ptr<DialogFrontEnd> MakeConsoleFrontEnd(int input, int output, int error);

}  // namespace platform
