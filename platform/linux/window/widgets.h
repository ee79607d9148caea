// The dialog's widgets as the device draws them, on top of the toolkit's.
#pragma once

#include <FL/Enumerations.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>

#include <string>

namespace platform {

inline constexpr const char* kWindowClass = "FerroVanLoader";
inline constexpr Fl_Color kDialogColor = FL_WHITE;
inline constexpr Fl_Color kTextColor = FL_BLACK;
inline constexpr Fl_Color kCaptionColor = 0x1D355700;  // the icon's dark blue

// Static text: left aligned and wrapped, drawn as it is (the toolkit's labels would read '@' as
// the start of a symbol, and an address may hold one).
class StaticText : public Fl_Widget {
 public:
  StaticText(int x, int y, int width, int height);
  void Text(std::string text);

 protected:
  void draw() override;

 private:
  std::string text_;
};

// Enter on a push button that has the focus presses that button, as on the device; otherwise
// Enter would reach the default button (Ok) while the user has moved to Cancel.
class PushButton : public Fl_Button {
 public:
  PushButton(int x, int y, int width, int height) : Fl_Button(x, y, width, height) {}
  int handle(int event) override;
};

// The default push button: Enter presses it wherever the focus is (the toolkit's return button
// does that), marked with a dark frame as the device marks it, not with a return-key glyph.
class DefaultButton : public Fl_Return_Button {
 public:
  DefaultButton(int x, int y, int width, int height, const char* label = nullptr)
      : Fl_Return_Button(x, y, width, height, label) {}
  int handle(int event) override;

 protected:
  void draw() override;
};

// The dialog's window: after its first complete drawing it sends the start-time benchmark's
// paint notice (paint_notice.h), if one was asked for.
class DialogWindow : public Fl_Double_Window {
 public:
  using Fl_Double_Window::Fl_Double_Window;
  void flush() override;
};

// The loader's icon on a window.
void SetLoaderIcons(Fl_Window& window);

}  // namespace platform
