// A private X server (Xvfb) for the window tests, with what a test needs to act as the user and
// to look at the screen: xdotool for input and window queries, Xlib for pixels.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

#include "platform/linux/window/control_layout.h"

struct _XDisplay;

namespace window_testing {

// The full path of program in PATH, or "" when it is not installed.
std::string FindProgram(const std::string& program);

// Why the window tests cannot run here ("" when they can): Xvfb or xdotool missing, named with
// their Debian packages.
std::string MissingTools();

struct WindowGeometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

class XServer {
 public:
  // Starts Xvfb on a display number it picks, with one screen of width by height at 24 bits;
  // waits (bounded) until it accepts connections. Ok() tells whether that worked.
  XServer(int width, int height);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool Ok() const { return display_ != nullptr; }
  const std::string& Error() const { return error_; }
  // ":N", for DISPLAY.
  const std::string& Name() const { return name_; }

  // Runs xdotool with args on this display; its standard output, "" when it failed.
  std::string XDoTool(const std::vector<std::string>& args) const;
  // The ids of the mapped windows whose class or name (with byName) matches pattern.
  std::vector<std::string> FindWindows(const std::string& pattern, bool byName = false) const;
  // Waits (bounded) for exactly one such window; its id, or "".
  std::string WaitForWindow(const std::string& pattern, bool byName = false,
                            std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
  bool Geometry(const std::string& windowId, WindowGeometry& geometry) const;
  void Click(int x, int y) const;
  void Type(const std::string& text) const;
  void Key(const std::string& keys) const;
  // Asks the window to close, as a window manager's close button does.
  void RequestClose(const std::string& windowId) const;

  // Pixels of the root window (the whole screen) that are not background in rect, counted on
  // a fresh screenshot.
  int Ink(const platform::PixelRect& rect, unsigned background = 0xFFFFFF) const;
  // A screenshot as 0xRRGGBB values, row by row.
  std::vector<unsigned> Capture() const;
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  int width_;
  int height_;
  pid_t pid_ = -1;
  std::string name_;
  std::string error_;
  ::_XDisplay* display_ = nullptr;
};

// The X server of this test program: started on first use with a 480x640 screen, with DISPLAY
// pointing at it and the window front end opened on it (a front end keeps its display). Null,
// with the reason in why, when that cannot be done here.
XServer* SharedServer(std::string& why);

// The rectangle of a control of the loader's dialog on the shared server's screen.
platform::PixelRect LoaderControlRect(int controlId);

// Counts the pixels of shot (width pixels wide) in rect that differ from background.
int InkIn(const std::vector<unsigned>& shot, int width, const platform::PixelRect& rect,
          unsigned background = 0xFFFFFF);

}  // namespace window_testing
