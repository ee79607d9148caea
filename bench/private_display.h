// A private Xvfb for the benchmarks that draw (480x640, no TCP, on a display it picks), and the
// line that it or a program under test sends on a descriptor.
#pragma once

#include <sys/types.h>

#include <string>

namespace bench {

// Starts Xvfb and sets DISPLAY to it; the server's process, or -1 (with DISPLAY untouched) when
// it did not start within 30 s.
pid_t StartPrivateDisplay();

// Reads from fd until a newline arrives or 30 s pass; what arrived, or "" on failure.
std::string ReadLine(int fd);

// Stops the server that StartPrivateDisplay started; nothing for -1.
void StopPrivateDisplay(pid_t server);

}  // namespace bench
