// The device's text form of a shortcut, which every host's shell writes as the shortcut file.
#pragma once

#include <string>

namespace platform {

// The target's length in wide characters, "#", the target, in UTF-8.
std::string ShortcutText(const wchar_t* target);

}  // namespace platform
