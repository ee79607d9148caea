#include "platform/linux/window/dialog_units.h"

#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

int Scale(int value, int numerator, int denominator) {
  return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

}  // namespace

// A hand-held draws its dialogs at 96 dots per inch for every 240 pixels of the screen's shorter
// side (a VGA device at twice the size of a QVGA one); larger screens keep the VGA size. The
// font then shrinks until the whole template fits on the screen, since the host's sans-serif font
// may be wider than the device's.
DialogFont MeasureDialogFont(const DialogTemplate& dialogTemplate, int screenWidth,
                             int screenHeight) {
  const double scale = std::clamp(std::min(screenWidth, screenHeight) / 240.0, 1.0, 2.0);
  const int points = dialogTemplate.fontPointSize > 0 ? dialogTemplate.fontPointSize : 8;
  DialogFont font;
  for (int size = static_cast<int>(std::lround(points * 96.0 * scale / 72.0)); size >= 6; --size) {
    font.size = static_cast<Fl_Fontsize>(size);
    fl_font(font.face, font.size);
    // The dialog manager's base units: the rounded average width of the 52 Latin letters, and
    // the font's height.
    const long letters =
        std::lround(fl_width("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    font.baseX = std::max(1, static_cast<int>((letters / 26 + 1) / 2));
    font.baseY = std::max(1, fl_height());
    if (Scale(dialogTemplate.x + dialogTemplate.width, font.baseX, 4) <= screenWidth &&
        Scale(dialogTemplate.y + dialogTemplate.height, font.baseY, 8) <= screenHeight) {
      break;
    }
  }
  return font;
}

PixelRect ToPixels(const DialogFont& font, int x, int y, int width, int height) {
  return {Scale(x, font.baseX, 4), Scale(y, font.baseY, 8), Scale(width, font.baseX, 4),
          Scale(height, font.baseY, 8)};
}

}  // namespace platform
