// The dialog's measures: dialog units turned into pixels with the font the dialog is drawn in.
#pragma once

#include <FL/Enumerations.H>

#include "platform/dialog.h"
#include "platform/linux/window/control_layout.h"

namespace platform {

struct DialogFont {
  Fl_Font face = FL_HELVETICA;
  Fl_Fontsize size = 11;
  int baseX = 6;   // pixels per four horizontal dialog units
  int baseY = 13;  // pixels per eight vertical dialog units
};

// The font and base units for dialogTemplate on a screen of the given size.
DialogFont MeasureDialogFont(const DialogTemplate& dialogTemplate, int screenWidth,
                             int screenHeight);

// A rectangle in dialog units as pixels.
PixelRect ToPixels(const DialogFont& font, int x, int y, int width, int height);

}  // namespace platform
