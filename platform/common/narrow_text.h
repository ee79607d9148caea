// The host's reading of narrow text (the device's ANSI code page) as wide text, for formatting.
// Each host's text conversion defines it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::wstring WidenNarrowText(std::string_view text);

}  // namespace platform
