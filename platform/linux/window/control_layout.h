// Where the window front end places a dialog template's controls, so that a program driving the
// window from outside (a test, the screenshot script's helper) knows where to look and click.
#pragma once

#include "platform/dialog.h"

namespace platform {

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The rectangle, in pixels from the window's top-left corner, that the window front end gives
// the control controlId of dialogTemplate on the current screen. False when the template has no
// such control or no display is open (OpenWindowFrontEnd opens it).
bool WindowControlRect(const DialogTemplate& dialogTemplate, int controlId, PixelRect& rect);

}  // namespace platform
