// Reading the address prompt's line from standard input, whatever it is (a file, a pipe, a
// socket, a terminal), without taking a byte past the line: what follows is left for whoever
// reads the input next.
#pragma once

#include <optional>
#include <string>

namespace platform {

// One line as the edit box takes it (BoundedLine), without its line end; nothing at end of
// input before any byte.
std::optional<std::string> ReadBoundedLine(int fd);

// One byte from fd; false at end of input or on a read error.
bool ReadByte(int fd, char& byte);

}  // namespace platform
