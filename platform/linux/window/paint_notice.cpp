#include "platform/linux/window/paint_notice.h"

#include <FL/Fl.H>
#include <unistd.h>

#include <cstdlib>

// Last: Xlib's macros (None, Bool, Status ...) must not meet the headers above.
#include <FL/x.H>

namespace platform {
namespace {

int paintNoticeFd = -1;

}  // namespace

void TakePaintNotice() {
  const char* value = std::getenv("FERROVAN_PAINT_NOTICE_FD");
  if (value == nullptr) {
    return;
  }
  char* end = nullptr;
  const long fd = std::strtol(value, &end, 10);
  if (end != value && *end == '\0' && fd > STDERR_FILENO && fd < 1024) {
    paintNoticeFd = static_cast<int>(fd);
  }
  unsetenv("FERROVAN_PAINT_NOTICE_FD");
}

void SendPaintNotice() {
  if (paintNoticeFd < 0) {
    return;
  }
  XSync(fl_display, False);
  static constexpr char kNotice[] = "painted\n";
  [[maybe_unused]] const ssize_t written = write(paintNoticeFd, kNotice, sizeof kNotice - 1);
  close(paintNoticeFd);
  paintNoticeFd = -1;
}

}  // namespace platform
