// The console front end: the dialog on standard input and output, in a console window or on
// pipes and files.
#pragma once

#include <memory>
#include <string_view>

#include "platform/common/console_dialog.h"
#include "platform/dialog.h"
#include "platform/host.h"
#include "platform/windows_types.h"

namespace platform {

// Writes text to a standard handle: wide to a console window, UTF-8 to a pipe or a file.
void WriteText(HANDLE handle, std::wstring_view text);

// A console front end on other handles (for tests). The handles stay the caller's.
std::unique_ptr<DialogFrontEnd> MakeConsoleFrontEnd(HANDLE input, HANDLE output, HANDLE error);

}  // namespace platform
