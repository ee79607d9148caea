// The message box of the window front end.
#pragma once

#include <FL/Fl_Double_Window.H>

#include <functional>
#include <string>

#include "platform/linux/window/dialog_units.h"

namespace platform {

// A message box: a caption bar, the text and one Ok button. It draws its own frame and caption,
// since a kiosk screen has no window manager to do it; the caption is its title as well.
// Centred on the screen and modal; onDismiss runs once, when Ok (or Escape, or a close request)
// dismisses it.
class MessageBoxWindow : public Fl_Double_Window {
 public:
  MessageBoxWindow(const std::string& text, const std::string& caption, const DialogFont& font,
                   int screenWidth, int screenHeight, std::function<void()> onDismiss);

  void Dismiss();

 private:
  static void OnDismiss(Fl_Widget*, void* self);

  std::function<void()> onDismiss_;
};

}  // namespace platform
