#include "platform/linux/window/message_box.h"

#include <FL/Fl_Box.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "platform/linux/window/text_layout.h"
#include "platform/linux/window/widgets.h"

namespace platform {

MessageBoxWindow::MessageBoxWindow(const std::string& text, const std::string& caption,
                                   const DialogFont& font, int screenWidth, int screenHeight,
                                   std::function<void()> onDismiss)
    : Fl_Double_Window(0, 0, 100, 100), onDismiss_(std::move(onDismiss)) {
  const int margin = font.baseX * 2;
  const PixelRect button = ToPixels(font, 0, 0, 50, 14);
  fl_font(font.face, font.size);
  const int lineHeight = fl_height();
  const int captionHeight = lineHeight + margin;
  const int widest = std::max(button.width, screenWidth * 9 / 10 - 2 * margin);
  const std::string shown = LineBreaks(text);
  const std::vector<std::string> lines = WrapLines(shown, widest);
  // Rounded up, so that the label, which wraps again at its own width, breaks the same lines.
  auto widthOf = [](const std::string& line) {
    return static_cast<int>(std::ceil(fl_width(line.c_str())));
  };
  int textWidth = button.width;
  for (const std::string& line : lines) {
    textWidth = std::max(textWidth, widthOf(line));
  }
  fl_font(font.face | FL_BOLD, font.size);
  textWidth = std::max(textWidth, widthOf(caption));
  textWidth = std::min(textWidth, widest);
  const int textHeight = static_cast<int>(lines.size()) * lineHeight;
  const int width = textWidth + 2 * margin;
  const int height = captionHeight + margin + textHeight + margin + button.height + margin;
  resize(std::max(0, (screenWidth - width) / 2), std::max(0, (screenHeight - height) / 2), width,
         height);

  box(FL_BORDER_BOX);
  color(kDialogColor);
  auto* bar = new Fl_Box(FL_FLAT_BOX, 1, 1, width - 2, captionHeight - 1, nullptr);
  bar->color(kCaptionColor);
  auto* title = new StaticText(margin, 1 + margin / 2, width - 2 * margin, lineHeight);
  title->color(kCaptionColor);
  title->labelfont(font.face | FL_BOLD);
  title->labelsize(font.size);
  title->labelcolor(FL_WHITE);
  title->Text(caption);
  auto* label = new StaticText(margin, captionHeight + margin, textWidth, textHeight);
  label->color(kDialogColor);
  label->labelfont(font.face);
  label->labelsize(font.size);
  label->labelcolor(kTextColor);
  label->Text(shown);
  auto* ok = new DefaultButton((width - button.width) / 2, height - margin - button.height,
                               button.width, button.height, "Ok");
  ok->labelfont(font.face);
  ok->labelsize(font.size);
  ok->callback(&OnDismiss, this);
  end();
  // Escape and a close request answer an Ok-only box as its Ok does.
  callback(&OnDismiss, this);
  clear_border();
  copy_label(caption.c_str());
  xclass(kWindowClass);
  SetLoaderIcons(*this);
  set_modal();
}

void MessageBoxWindow::Dismiss() {
  hide();
  if (onDismiss_) {
    std::function<void()> onDismiss = std::move(onDismiss_);
    onDismiss_ = nullptr;
    onDismiss();
  }
}

void MessageBoxWindow::OnDismiss(Fl_Widget*, void* self) {
  static_cast<MessageBoxWindow*>(self)->Dismiss();
}

}  // namespace platform
