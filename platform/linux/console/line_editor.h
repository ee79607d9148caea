// The address prompt on a terminal: the line edited in place, the current address filled in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

enum class LineEdit { Entered, Cancelled, NoTerminal };

// Shows prompt and line on out and lets the user edit line in character mode on in: Enter
// takes it, Ctrl-C (or Ctrl-D on an empty line, or the end of input) cancels. NoTerminal when in
// cannot be put into character mode; nothing is written then.
LineEdit EditTerminalLine(int in, int out, const std::string& prompt, std::string& line);

// The characters (code points) of UTF-8 text.
std::size_t CodePoints(std::string_view text);

}  // namespace platform
