// The floor of the window benchmark: the least an FLTK program does to show a full-screen
// window, linked as the loader is. It sends the same paint notice as the loader's dialog (one
// line on the descriptor named in FERROVAN_PAINT_NOTICE_FD once the first drawing has reached
// the X server) and then waits until it is stopped.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <unistd.h>

#include <cstdlib>

// Last: Xlib's macros must not meet the headers above.
#include <FL/x.H>

namespace {

int noticeFd = -1;

class FloorWindow : public Fl_Double_Window {
 public:
  using Fl_Double_Window::Fl_Double_Window;

  void flush() override {
    Fl_Double_Window::flush();
    if (noticeFd < 0) {
      return;
    }
    XSync(fl_display, False);
    static constexpr char kNotice[] = "painted\n";
    [[maybe_unused]] const ssize_t written = write(noticeFd, kNotice, sizeof kNotice - 1);
    close(noticeFd);
    noticeFd = -1;
  }
};

}  // namespace

int main() {
  if (const char* fd = std::getenv("FERROVAN_PAINT_NOTICE_FD")) {
    noticeFd = std::atoi(fd);
  }
  fl_open_display();
  int x = 0, y = 0, width = 0, height = 0;
  Fl::screen_xywh(x, y, width, height, 0);
  FloorWindow window(x, y, width, height);
  window.clear_border();
  window.color(FL_WHITE);
  window.end();
  window.show();
  return Fl::run();
}
