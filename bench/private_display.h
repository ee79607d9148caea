// A private Xvfb for the benchmarks that draw: 480x640, no TCP, on a display it picks.
#pragma once

#include <sys/types.h>

namespace bench {

// Starts Xvfb and sets DISPLAY to it; the server's process, or -1 (with DISPLAY untouched) when
// it did not start within 30 s.
pid_t StartPrivateDisplay();

// Stops the server that StartPrivateDisplay started; nothing for -1.
void StopPrivateDisplay(pid_t server);

}  // namespace bench
