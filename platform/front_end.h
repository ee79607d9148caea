// Choosing the front end that shows the loader's dialog.
#pragma once

#include <string_view>

#include "platform/dialog.h"
#include "platform/host.h"

namespace platform {

enum class FrontEndKind { Console, Window };

// Makes kind the front end behind Dialogs(). For Window, false when the window cannot be opened
// (no display, or not built); the console then stays in place. Called once, before any thread.
bool SelectFrontEnd(FrontEndKind kind);
FrontEndKind SelectedFrontEnd();

// "console" or "window"; false for any other text.
bool ParseFrontEndKind(std::string_view text, FrontEndKind& kind);
const char* FrontEndName(FrontEndKind kind);

}  // namespace platform
