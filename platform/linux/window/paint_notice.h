// The start-time benchmark's hook: it names, in FERROVAN_PAINT_NOTICE_FD, a descriptor on which
// the loader writes one line once its dialog has first been drawn and the X server has done the
// drawing. Nothing happens on an ordinary start, where the variable is unset.
#pragma once

namespace platform {

// Takes the descriptor from the environment and removes the variable, so that the programs the
// loader starts never write into the benchmark's pipe. Called once the display is open.
void TakePaintNotice();

// After a complete drawing: waits for the X server, writes the line and closes the descriptor,
// the first time only.
void SendPaintNotice();

}  // namespace platform
