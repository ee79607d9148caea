// The console front end: the dialog on standard input and output, in a console window or on
// pipes and files.
#pragma once

#include <memory>

#include "platform/common/console_dialog.h"
#include "platform/dialog.h"
#include "platform/windows_types.h"

namespace platform {

// The process's console front end, on its standard handles.
DialogFrontEnd& ConsoleFrontEnd();

// A console front end on other handles (for tests). The handles stay the caller's.
std::unique_ptr<DialogFrontEnd> MakeConsoleFrontEnd(HANDLE input, HANDLE output, HANDLE error);

}  // namespace platform
