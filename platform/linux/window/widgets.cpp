#include "platform/linux/window/widgets.h"

#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>

#include <utility>

#include "loader_icon_pixels.h"
#include "platform/linux/window/paint_notice.h"
#include "platform/linux/window/text_layout.h"

namespace platform {
namespace {

bool EnterPresses(Fl_Widget& button, int event) {
  if (event == FL_KEYBOARD && Fl::focus() == &button &&
      (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
    button.do_callback();
    return true;
  }
  return false;
}

const Fl_RGB_Image* const* LoaderIcons() {
  static const Fl_RGB_Image icon32(kLoaderIcon32, 32, 32, 3);
  static const Fl_RGB_Image icon48(kLoaderIcon48, 48, 48, 3);
  static const Fl_RGB_Image* const icons[] = {&icon48, &icon32};
  return icons;
}

}  // namespace

StaticText::StaticText(int x, int y, int width, int height) : Fl_Widget(x, y, width, height) {
  box(FL_FLAT_BOX);
}

void StaticText::Text(std::string text) {
  text_ = std::move(text);
  redraw();
}

void StaticText::draw() {
  draw_box();
  fl_push_clip(x(), y(), w(), h());
  fl_font(labelfont(), labelsize());
  fl_color(labelcolor());
  int baseline = y() + fl_height() - fl_descent();
  for (const std::string& line : WrapLines(text_, w())) {
    fl_draw(line.c_str(), static_cast<int>(line.size()), x(), baseline);
    baseline += fl_height();
  }
  fl_pop_clip();
}

int PushButton::handle(int event) {
  return EnterPresses(*this, event) ? 1 : Fl_Button::handle(event);
}

int DefaultButton::handle(int event) {
  return EnterPresses(*this, event) ? 1 : Fl_Return_Button::handle(event);
}

void DefaultButton::draw() {
  Fl_Button::draw();
  fl_color(FL_FOREGROUND_COLOR);
  fl_rect(x(), y(), w(), h());
}

void DialogWindow::flush() {
  Fl_Double_Window::flush();
  SendPaintNotice();
}

void SetLoaderIcons(Fl_Window& window) {
  // The toolkit copies the images; its signature predates const-correct arrays.
  window.icons(const_cast<const Fl_RGB_Image**>(LoaderIcons()), 2);
}

}  // namespace platform
