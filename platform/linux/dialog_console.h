// The console front end: the dialog in a terminal or a pipe.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/dialog.h"

namespace platform {

// The most characters the address prompt keeps of a line: what an edit box holds unless told
// otherwise. The rest of a longer line is read and dropped.
inline constexpr std::size_t kEditTextLimit = 32767;

// The process's console front end, on standard input, output and error.
DialogFrontEnd& ConsoleFrontEnd();

// A console front end on other descriptors (for tests).
std::unique_ptr<DialogFrontEnd> MakeConsoleFrontEnd(int input, int output, int error);

}  // namespace platform
