// The window's thread: the dialog's widgets made, changed and read.
#include <FL/Fl_Input.H>

#include "platform/linux/window/text_layout.h"
#include "platform/linux/window/widgets.h"
#include "platform/linux/window/window_front_end.h"

namespace platform {

Control* WindowFrontEnd::NewControl(unsigned session, int id, bool isDialog, ControlKind kind) {
  auto control = std::make_unique<Control>();
  control->owner = this;
  control->session = session;
  control->id = id;
  control->isDialog = isDialog;
  control->kind = kind;
  std::lock_guard lock(mutex_);
  controls_.push_back(std::move(control));
  return controls_.back().get();
}

Fl_Widget* WindowFrontEnd::CreateWidget(const ControlTemplate& control, const PixelRect& r) {
  Fl_Widget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::DefaultPushButton:
      widget = new DefaultButton(r.x, r.y, r.width, r.height);
      break;
    case ControlKind::PushButton:
      widget = new PushButton(r.x, r.y, r.width, r.height);
      break;
    case ControlKind::Edit: {
      auto* input = new Fl_Input(r.x, r.y, r.width, r.height);
      input->textfont(font_.face);
      input->textsize(font_.size);
      input->when(FL_WHEN_CHANGED);
      widget = input;
      break;
    }
    case ControlKind::Static:
      widget = new StaticText(r.x, r.y, r.width, r.height);
      widget->color(kDialogColor);
      widget->labelcolor(kTextColor);
      break;
  }
  widget->labelfont(font_.face);
  widget->labelsize(font_.size);
  return widget;
}

void WindowFrontEnd::DoMove(Control* control, int x, int y, int width, int height) {
  if (control->widget == nullptr) {
    control->place = PixelRect{x, y, width, height};
    return;
  }
  control->widget->resize(x, y, width, height);
  control->widget->redraw();
}

void WindowFrontEnd::DoShow(Control* control, bool visible) {
  control->visible = visible;
  Fl_Widget* widget = control->widget;
  if (widget == nullptr) {
    return;
  }
  if (!visible) {
    widget->hide();
    return;
  }
  widget->show();
}

void WindowFrontEnd::DoFocus(Control* control) {
  Fl_Widget* widget = control->widget;
  if (widget == nullptr) {
    focus_ = control->isDialog ? focus_ : control;
    return;
  }
  if (control->isDialog || !widget->visible()) {
    return;
  }
  widget->take_focus();
  if (control->kind == ControlKind::Edit) {
    auto* input = static_cast<Fl_Input*>(widget);
    input->position(input->size(), 0);  // the caret at the end, the whole text selected
  }
}

void WindowFrontEnd::DoSetText(Control* control, const std::string& text) {
  Fl_Widget* widget = control->widget;
  if (widget == nullptr) {
    control->text = text;
    return;
  }
  if (control->isDialog) {
    control->text = text;
    widget->copy_label(text.c_str());
    return;
  }
  switch (control->kind) {
    case ControlKind::Edit: {
      auto* input = static_cast<Fl_Input*>(widget);
      input->value(text.c_str());
      input->position(input->size());
      break;
    }
    case ControlKind::Static:
      control->text = text;
      static_cast<StaticText*>(widget)->Text(LineBreaks(text));
      break;
    case ControlKind::DefaultPushButton:
    case ControlKind::PushButton:
      control->text = text;
      widget->copy_label(LiteralLabel(text).c_str());
      break;
  }
}

std::string WindowFrontEnd::DoGetText(Control* control) {
  if (control->widget != nullptr && !control->isDialog && control->kind == ControlKind::Edit) {
    return static_cast<Fl_Input*>(control->widget)->value();
  }
  return control->text;
}

void WindowFrontEnd::DoEnd(Control* control, std::intptr_t result) {
  if (control != dialog_ || ended_) {
    return;
  }
  ended_ = true;
  result_ = result;
  if (window_ != nullptr) {
    window_->hide();
  }
}

}  // namespace platform
