#include "platform/linux/window/control_layout.h"

#include <FL/Fl.H>

#include "platform/linux/window/dialog_units.h"
#include "platform/linux/window/window_front_end.h"

namespace platform {

bool WindowControlRect(const DialogTemplate& dialogTemplate, int controlId, PixelRect& rect) {
  if (!WindowFrontEndOpen()) {
    return false;
  }
  Fl::lock();
  OpenToolkit();
  Fl::unlock();
  int x = 0, y = 0, width = 0, height = 0;
  Fl::screen_xywh(x, y, width, height, 0);
  const DialogFont font = MeasureDialogFont(dialogTemplate, width, height);
  for (const ControlTemplate& item : dialogTemplate.controls) {
    if (item.id == controlId) {
      rect = ToPixels(font, item.x, item.y, item.width, item.height);
      return true;
    }
  }
  return false;
}

}  // namespace platform
