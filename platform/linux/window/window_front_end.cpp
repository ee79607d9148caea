// The window front end: the loader dialog as a borderless full-screen FLTK window.
//
// The thread that calls RunModal owns every widget. Other threads reach the window only through
// tasks queued here and run by that thread inside its event loop (woken with Fl::awake): text
// updates and reads wait for their task, as a sent window message does; showing, moving and
// ending are handed over without waiting.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "loader_icon_pixels.h"
#include "platform/host.h"
#include "platform/linux/window/control_layout.h"

// Last: Xlib's macros (None, Bool, Status ...) must not meet the headers above.
#include <FL/x.H>

#if defined(__SANITIZE_ADDRESS__)
// The font library keeps its pattern caches for the life of the process and never frees them;
// the leak checker is told so, since it cannot unwind through the library's frames.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

namespace platform {
namespace {

constexpr unsigned BN_CLICKED = 0;
constexpr unsigned EN_CHANGE = 0x0300;
constexpr const char* kWindowClass = "FerroVanLoader";
constexpr Fl_Color kDialogColor = FL_WHITE;
constexpr Fl_Color kTextColor = FL_BLACK;
constexpr Fl_Color kCaptionColor = 0x1D355700;  // the icon's dark blue

struct DialogFont {
  Fl_Font face = FL_HELVETICA;
  Fl_Fontsize size = 11;
  int baseX = 6;   // pixels per four horizontal dialog units
  int baseY = 13;  // pixels per eight vertical dialog units
};

// A start-time benchmark names, in FERROVAN_PAINT_NOTICE_FD, a descriptor on which the loader
// writes one line once its dialog has first been drawn and the X server has done the drawing;
// -1 (the variable unset) on every ordinary start.
int paintNoticeFd = -1;

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
  // The programs the loader starts must not write into the benchmark's pipe.
  unsetenv("FERROVAN_PAINT_NOTICE_FD");
}

// The dialog's window: after its first complete drawing (the back buffer copied to the screen)
// it sends the paint notice, if one was asked for.
class DialogWindow : public Fl_Double_Window {
 public:
  using Fl_Double_Window::Fl_Double_Window;

  void flush() override {
    Fl_Double_Window::flush();
    if (paintNoticeFd < 0) {
      return;
    }
    XSync(fl_display, False);
    static constexpr char kNotice[] = "painted\n";
    [[maybe_unused]] const ssize_t written = write(paintNoticeFd, kNotice, sizeof kNotice - 1);
    close(paintNoticeFd);
    paintNoticeFd = -1;
  }
};

int Scale(int value, int numerator, int denominator) {
  return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

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

// The toolkit reads '@' in a label as the start of a symbol; "@@" draws one '@'.
std::string LiteralLabel(const std::string& text) {
  std::string label;
  for (char c : text) {
    if (c == '@') {
      label += '@';
    }
    label += c;
  }
  return label;
}

// A static control breaks lines at "\r\n" (and at a lone '\r' or '\n').
std::string LineBreaks(const std::string& text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      result += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
    } else {
      result += text[i];
    }
  }
  return result;
}

// Breaks text into the lines that fit width in the current font: at line breaks, between words,
// and inside a word that is wider than a whole line (an address, a path), so nothing is lost
// past the right edge.
std::vector<std::string> WrapLines(const std::string& text, int width) {
  std::vector<std::string> lines;
  auto fits = [width](const std::string& line) { return fl_width(line.c_str()) <= width; };
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string paragraph = text.substr(start, end - start);
    std::string line;
    std::size_t at = 0;
    while (at < paragraph.size()) {
      std::size_t wordEnd = paragraph.find(' ', at);
      wordEnd = wordEnd == std::string::npos ? paragraph.size() : wordEnd + 1;
      const std::string word = paragraph.substr(at, wordEnd - at);
      at = wordEnd;
      if (fits(line + word)) {
        line += word;
        continue;
      }
      if (!line.empty()) {
        lines.push_back(line);
        line.clear();
      }
      // The word alone: whole when it fits, else character by character (UTF-8 sequences kept
      // together).
      for (std::size_t i = 0; i < word.size();) {
        const std::size_t length = std::clamp<std::size_t>(
            static_cast<std::size_t>(fl_utf8len1(word[i])), 1, word.size() - i);
        const std::string character = word.substr(i, length);
        if (!line.empty() && !fits(line + character)) {
          lines.push_back(line);
          line.clear();
        }
        line += character;
        i += length;
      }
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Static text: left aligned and wrapped, drawn as it is (the toolkit's labels would read '@' as
// the start of a symbol, and an address may hold one).
class StaticText : public Fl_Widget {
 public:
  StaticText(int x, int y, int width, int height) : Fl_Widget(x, y, width, height) {
    box(FL_FLAT_BOX);
  }
  void Text(std::string text) {
    text_ = std::move(text);
    redraw();
  }

 protected:
  void draw() override {
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

 private:
  std::string text_;
};

// Enter on a push button that has the focus presses that button, as on the device; otherwise
// Enter would reach the default button (Ok) while the user has moved to Cancel.
bool EnterPresses(Fl_Widget& button, int event) {
  if (event == FL_KEYBOARD && Fl::focus() == &button &&
      (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
    button.do_callback();
    return true;
  }
  return false;
}

class PushButton : public Fl_Button {
 public:
  PushButton(int x, int y, int width, int height) : Fl_Button(x, y, width, height) {}
  int handle(int event) override {
    return EnterPresses(*this, event) ? 1 : Fl_Button::handle(event);
  }
};

// The default push button: Enter presses it wherever the focus is (the toolkit's return button
// does that), marked with a dark frame as the device marks it, not with a return-key glyph.
class DefaultButton : public Fl_Return_Button {
 public:
  DefaultButton(int x, int y, int width, int height, const char* label = nullptr)
      : Fl_Return_Button(x, y, width, height, label) {}
  int handle(int event) override {
    return EnterPresses(*this, event) ? 1 : Fl_Return_Button::handle(event);
  }

 protected:
  void draw() override {
    Fl_Button::draw();
    fl_color(FL_FOREGROUND_COLOR);
    fl_rect(x(), y(), w(), h());
  }
};

const Fl_RGB_Image* const* LoaderIcons() {
  static const Fl_RGB_Image icon32(kLoaderIcon32, 32, 32, 3);
  static const Fl_RGB_Image icon48(kLoaderIcon48, 48, 48, 3);
  static const Fl_RGB_Image* const icons[] = {&icon48, &icon32};
  return icons;
}

void SetLoaderIcons(Fl_Window& window) {
  // The toolkit copies the images; its signature predates const-correct arrays.
  window.icons(const_cast<const Fl_RGB_Image**>(LoaderIcons()), 2);
}

class WindowFrontEnd;

// What a window handle points to: one per control and one for the dialog, kept until the front
// end goes, so that a handle stays a valid pointer even after its dialog has closed.
struct Control {
  WindowFrontEnd* owner = nullptr;
  unsigned session = 0;
  int id = 0;
  bool isDialog = false;
  ControlKind kind = ControlKind::Static;
  Fl_Widget* widget = nullptr;  // window thread only; null once the dialog is gone
  std::string text;             // window thread only: the text of all but the edit box
  std::intptr_t userData = 0;   // guarded by the front end's mutex
};

Control* FromHandle(WindowHandle handle) {
  return reinterpret_cast<Control*>(handle);
}
WindowHandle ToHandle(Control* control) {
  return reinterpret_cast<WindowHandle>(control);
}

// A message box: a caption bar, the text and one Ok button. It draws its own frame and caption,
// since a kiosk screen has no window manager to do it; the caption is its title as well.
class MessageBoxWindow : public Fl_Double_Window {
 public:
  MessageBoxWindow(const std::string& text, const std::string& caption, const DialogFont& font,
                   int screenWidth, int screenHeight, std::function<void()> onDismiss)
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

  void Dismiss() {
    hide();
    if (onDismiss_) {
      std::function<void()> onDismiss = std::move(onDismiss_);
      onDismiss_ = nullptr;
      onDismiss();
    }
  }

 private:
  static void OnDismiss(Fl_Widget*, void* self) { static_cast<MessageBoxWindow*>(self)->Dismiss(); }

  std::function<void()> onDismiss_;
};

class WindowFrontEnd final : public DialogFrontEnd {
 public:
  WindowFrontEnd(int screenWidth, int screenHeight)
      : screenWidth_(screenWidth), screenHeight_(screenHeight) {}

  std::intptr_t RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                         std::intptr_t param) override;
  WindowHandle GetItem(WindowHandle dialog, int controlId) override;
  void SetUserData(WindowHandle window, std::intptr_t value) override;
  std::intptr_t GetUserData(WindowHandle window) override;
  int GetSystemMetrics(int index) override;
  void Move(WindowHandle window, int x, int y, int width, int height, bool repaint) override;
  void Show(WindowHandle window, bool visible) override;
  bool IsVisible(WindowHandle window) override;
  void Focus(WindowHandle control) override;
  void SetText(WindowHandle window, const wchar_t* text) override;
  int GetText(WindowHandle window, std::span<wchar_t> text) override;
  void EndDialog(WindowHandle dialog, std::intptr_t result) override;
  void MessageBox(const wchar_t* text, const wchar_t* caption) override;

  bool ControlRect(const DialogTemplate& dialogTemplate, int controlId, PixelRect& rect);

 private:
  // Work for the window's thread. run returns true when the task is complete at once; a message
  // box completes its task later, when it is dismissed.
  struct Task {
    std::function<bool(const std::shared_ptr<Task>&)> run;
    bool done = false;
  };
  using TaskPtr = std::shared_ptr<Task>;

  enum class Dispatch { Direct, Queued, Closed };

  // Runs action here when called on the window's thread, else queues it (and, with wait, blocks
  // until it has run or the dialog has closed).
  Dispatch Deliver(const std::function<void()>& action, bool wait);
  Dispatch Enqueue(std::function<bool(const TaskPtr&)> run, bool wait);
  void Complete(const TaskPtr& task);
  static void Awake(void* self) { static_cast<WindowFrontEnd*>(self)->Drain(); }
  void Drain();

  Control* NewControl(unsigned session, int id, bool isDialog, ControlKind kind, Fl_Widget* widget);
  Fl_Widget* CreateWidget(const ControlTemplate& control, const PixelRect& rect);
  void CloseDialog();
  void FocusFirstTabStop();
  static void OnControl(Fl_Widget* widget, void* control);
  static void OnDialogClose(Fl_Widget* widget, void* self);
  void Command(unsigned code, int id, Control* control);

  void DoMove(Control* control, int x, int y, int width, int height);
  void DoShow(Control* control, bool visible);
  void DoFocus(Control* control);
  void DoSetText(Control* control, const std::string& text);
  std::string DoGetText(Control* control);
  void DoEnd(Control* control, std::intptr_t result);
  MessageBoxWindow* OpenMessageBox(const std::string& text, const std::string& caption,
                                   std::function<void()> onDismiss);

  std::mutex mutex_;
  std::condition_variable taskDone_;
  // Guarded by mutex_.
  std::deque<std::unique_ptr<Control>> controls_;
  std::deque<TaskPtr> tasks_;
  std::thread::id windowThread_;
  bool open_ = false;
  bool wakePending_ = false;
  unsigned session_ = 0;
  int screenWidth_;
  int screenHeight_;

  // The window's thread only.
  Fl_Double_Window* window_ = nullptr;
  Control* dialog_ = nullptr;
  std::vector<Control*> dialogControls_;
  DialogProc proc_ = nullptr;
  DialogFont font_;
  bool ended_ = false;
  std::intptr_t result_ = 0;
  std::vector<std::pair<MessageBoxWindow*, TaskPtr>> boxes_;
};

Control* WindowFrontEnd::NewControl(unsigned session, int id, bool isDialog, ControlKind kind,
                                    Fl_Widget* widget) {
  auto control = std::make_unique<Control>();
  control->owner = this;
  control->session = session;
  control->id = id;
  control->isDialog = isDialog;
  control->kind = kind;
  control->widget = widget;
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

std::intptr_t WindowFrontEnd::RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                                       std::intptr_t param) {
  Fl::lock();
  unsigned session = 0;
  {
    std::lock_guard lock(mutex_);
    if (open_) {
      Fl::unlock();
      return -1;  // one dialog at a time
    }
    session = ++session_;
  }
  int screenX = 0, screenY = 0, screenWidth = 0, screenHeight = 0;
  Fl::screen_xywh(screenX, screenY, screenWidth, screenHeight, 0);
  font_ = MeasureDialogFont(dialogTemplate, screenWidth, screenHeight);

  const PixelRect frame = ToPixels(font_, dialogTemplate.x, dialogTemplate.y, dialogTemplate.width,
                                   dialogTemplate.height);
  auto window = std::make_unique<DialogWindow>(frame.x, frame.y, frame.width, frame.height);
  window->clear_border();
  window->xclass(kWindowClass);
  window->color(kDialogColor);
  // Controls keep their places and sizes when the dialog is made to fill the screen.
  window->resizable(nullptr);
  window->callback(&OnDialogClose, this);
  SetLoaderIcons(*window);

  window_ = window.get();
  proc_ = proc;
  ended_ = false;
  result_ = 0;
  dialog_ = NewControl(session, 0, true, ControlKind::Static, window.get());
  dialogControls_.clear();
  // Children are added in template order, which the toolkit's keyboard navigation follows.
  for (const ControlTemplate& item : dialogTemplate.controls) {
    Fl_Widget* widget =
        CreateWidget(item, ToPixels(font_, item.x, item.y, item.width, item.height));
    Control* control = NewControl(session, item.id, false, item.kind, widget);
    widget->callback(&OnControl, control);
    DoSetText(control, WideToUtf8(item.text != nullptr ? item.text : L""));
    if (!item.visible) {
      widget->hide();
    }
    dialogControls_.push_back(control);
  }
  window->end();

  {
    std::lock_guard lock(mutex_);
    windowThread_ = std::this_thread::get_id();
    screenWidth_ = screenWidth;
    screenHeight_ = screenHeight;
    open_ = true;
  }

  Control* firstTabStop = nullptr;
  for (std::size_t i = 0; i < dialogTemplate.controls.size(); ++i) {
    if (dialogTemplate.controls[i].visible && dialogControls_[i]->kind != ControlKind::Static) {
      firstTabStop = dialogControls_[i];
      break;
    }
  }
  const std::intptr_t setFocus =
      proc(ToHandle(dialog_), WM_INITDIALOG,
           reinterpret_cast<std::uintptr_t>(ToHandle(firstTabStop)), param);
  // EndDialog during the initialisation ends the dialog before it is ever shown.
  if (!ended_) {
    if (setFocus != 0) {
      FocusFirstTabStop();
    }
    window->show();
    while (!ended_) {
      Fl::wait();
    }
  }
  CloseDialog();
  window.reset();
  Fl::flush();
  Fl::unlock();
  return result_;
}

void WindowFrontEnd::CloseDialog() {
  std::deque<TaskPtr> cancelled;
  {
    std::lock_guard lock(mutex_);
    open_ = false;
    cancelled.swap(tasks_);
    for (const TaskPtr& task : cancelled) {
      task->done = true;
    }
  }
  taskDone_.notify_all();
  // A box still open belongs to a caller that must not wait for a dialog that is gone.
  auto boxes = std::move(boxes_);
  boxes_.clear();
  for (auto& [box, task] : boxes) {
    box->hide();
    Complete(task);
    Fl::delete_widget(box);
  }
  for (Control* control : dialogControls_) {
    control->widget = nullptr;
  }
  dialog_->widget = nullptr;
  dialogControls_.clear();
  window_ = nullptr;
}

void WindowFrontEnd::FocusFirstTabStop() {
  for (Control* control : dialogControls_) {
    if (control->kind != ControlKind::Static && control->widget->visible()) {
      control->widget->take_focus();
      return;
    }
  }
}

void WindowFrontEnd::OnControl(Fl_Widget*, void* data) {
  auto* control = static_cast<Control*>(data);
  control->owner->Command(control->kind == ControlKind::Edit ? EN_CHANGE : BN_CLICKED, control->id,
                          control);
}

// Escape and a close request reach the dialog as IDCANCEL, as with the device's dialog manager;
// the loader's dialog ignores it, so Cancel stays the only way out.
void WindowFrontEnd::OnDialogClose(Fl_Widget*, void* self) {
  static_cast<WindowFrontEnd*>(self)->Command(0, IDCANCEL, nullptr);
}

void WindowFrontEnd::Command(unsigned code, int id, Control* control) {
  if (proc_ == nullptr || dialog_ == nullptr || ended_) {
    return;
  }
  const auto wParam =
      static_cast<std::uintptr_t>((code << 16) | (static_cast<unsigned>(id) & 0xFFFF));
  proc_(ToHandle(dialog_), WM_COMMAND, wParam,
        reinterpret_cast<std::intptr_t>(control != nullptr ? ToHandle(control) : nullptr));
}

WindowFrontEnd::Dispatch WindowFrontEnd::Enqueue(std::function<bool(const TaskPtr&)> run,
                                                 bool wait) {
  auto task = std::make_shared<Task>();
  task->run = std::move(run);
  std::unique_lock lock(mutex_);
  if (!open_) {
    return Dispatch::Closed;
  }
  tasks_.push_back(task);
  // One wake-up at a time: the toolkit's queue of them is bounded, ours is not.
  if (!wakePending_) {
    wakePending_ = true;
    Fl::awake(&Awake, this);
  }
  if (wait) {
    taskDone_.wait(lock, [&] { return task->done; });
  }
  return Dispatch::Queued;
}

WindowFrontEnd::Dispatch WindowFrontEnd::Deliver(const std::function<void()>& action, bool wait) {
  bool direct = false;
  {
    std::lock_guard lock(mutex_);
    if (!open_) {
      return Dispatch::Closed;
    }
    direct = windowThread_ == std::this_thread::get_id();
  }
  if (direct) {
    action();
    return Dispatch::Direct;
  }
  return Enqueue(
      [action](const TaskPtr&) {
        action();
        return true;
      },
      wait);
}

void WindowFrontEnd::Complete(const TaskPtr& task) {
  {
    std::lock_guard lock(mutex_);
    task->done = true;
  }
  taskDone_.notify_all();
}

void WindowFrontEnd::Drain() {
  for (;;) {
    TaskPtr task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) {
        wakePending_ = false;
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (task->run(task)) {
      Complete(task);
    }
  }
}

WindowHandle WindowFrontEnd::GetItem(WindowHandle dialog, int controlId) {
  Control* owner = FromHandle(dialog);
  if (owner == nullptr || !owner->isDialog) {
    return nullptr;
  }
  std::lock_guard lock(mutex_);
  for (const auto& control : controls_) {
    if (control->session == owner->session && !control->isDialog && control->id == controlId) {
      return ToHandle(control.get());
    }
  }
  return nullptr;
}

void WindowFrontEnd::SetUserData(WindowHandle window, std::intptr_t value) {
  if (Control* control = FromHandle(window)) {
    std::lock_guard lock(mutex_);
    control->userData = value;
  }
}

std::intptr_t WindowFrontEnd::GetUserData(WindowHandle window) {
  Control* control = FromHandle(window);
  if (control == nullptr) {
    return 0;
  }
  std::lock_guard lock(mutex_);
  return control->userData;
}

int WindowFrontEnd::GetSystemMetrics(int index) {
  std::lock_guard lock(mutex_);
  if (index == SM_CXSCREEN) {
    return screenWidth_;
  }
  return index == SM_CYSCREEN ? screenHeight_ : 0;
}

void WindowFrontEnd::Move(WindowHandle window, int x, int y, int width, int height, bool) {
  Control* control = FromHandle(window);
  if (control != nullptr) {
    Deliver([=, this] { DoMove(control, x, y, width, height); }, false);
  }
}

void WindowFrontEnd::Show(WindowHandle window, bool visible) {
  Control* control = FromHandle(window);
  if (control != nullptr) {
    Deliver([=, this] { DoShow(control, visible); }, false);
  }
}

bool WindowFrontEnd::IsVisible(WindowHandle window) {
  Control* control = FromHandle(window);
  bool visible = false;
  if (control != nullptr) {
    Deliver([&] { visible = control->widget != nullptr && control->widget->visible(); }, true);
  }
  return visible;
}

void WindowFrontEnd::Focus(WindowHandle window) {
  Control* control = FromHandle(window);
  if (control != nullptr) {
    Deliver([=, this] { DoFocus(control); }, false);
  }
}

void WindowFrontEnd::SetText(WindowHandle window, const wchar_t* text) {
  Control* control = FromHandle(window);
  if (control != nullptr) {
    const std::string narrow = WideToUtf8(text != nullptr ? text : L"");
    Deliver([&, this] { DoSetText(control, narrow); }, true);
  }
}

int WindowFrontEnd::GetText(WindowHandle window, std::span<wchar_t> text) {
  if (text.empty()) {
    return 0;
  }
  text[0] = L'\0';
  Control* control = FromHandle(window);
  if (control == nullptr) {
    return 0;
  }
  std::string narrow;
  Deliver([&, this] { narrow = DoGetText(control); }, true);
  const std::wstring wide = Utf8ToWide(narrow);
  const std::size_t length = std::min(wide.size(), text.size() - 1);
  std::copy_n(wide.begin(), length, text.begin());
  text[length] = L'\0';
  return static_cast<int>(length);
}

void WindowFrontEnd::EndDialog(WindowHandle dialog, std::intptr_t result) {
  Control* control = FromHandle(dialog);
  if (control != nullptr) {
    Deliver([=, this] { DoEnd(control, result); }, false);
  }
}

void WindowFrontEnd::MessageBox(const wchar_t* text, const wchar_t* caption) {
  const std::string narrowText = WideToUtf8(text != nullptr ? text : L"");
  const std::string narrowCaption = WideToUtf8(caption != nullptr ? caption : L"Error");
  bool queue = false;
  {
    std::lock_guard lock(mutex_);
    queue = open_ && windowThread_ != std::this_thread::get_id();
  }
  if (queue) {
    const Dispatch dispatch = Enqueue(
        [&, this](const TaskPtr& task) {
          MessageBoxWindow* box = OpenMessageBox(narrowText, narrowCaption, [this, task] {
            auto entry = std::find_if(boxes_.begin(), boxes_.end(),
                                      [&](const auto& open) { return open.second == task; });
            if (entry != boxes_.end()) {
              Fl::delete_widget(entry->first);
              boxes_.erase(entry);
            }
            Complete(task);
          });
          boxes_.emplace_back(box, task);
          return false;
        },
        true);
    if (dispatch != Dispatch::Closed) {
      return;
    }
  }
  // On the window's own thread, or with no dialog running: the box runs its own loop here.
  Fl::lock();
  MessageBoxWindow* box = OpenMessageBox(narrowText, narrowCaption, nullptr);
  while (box->shown()) {
    Fl::wait();
  }
  delete box;
  Fl::flush();
  Fl::unlock();
}

MessageBoxWindow* WindowFrontEnd::OpenMessageBox(const std::string& text,
                                                 const std::string& caption,
                                                 std::function<void()> onDismiss) {
  int x = 0, y = 0, width = 0, height = 0;
  Fl::screen_xywh(x, y, width, height, 0);
  // The box shares the dialog's font; without a dialog it measures its own.
  static constexpr DialogTemplate kNoTemplate{};
  const DialogFont font =
      window_ != nullptr ? font_ : MeasureDialogFont(kNoTemplate, width, height);
  auto* box = new MessageBoxWindow(text, caption, font, width, height, std::move(onDismiss));
  box->show();
  return box;
}

void WindowFrontEnd::DoMove(Control* control, int x, int y, int width, int height) {
  if (control->widget != nullptr) {
    control->widget->resize(x, y, width, height);
    control->widget->redraw();
  }
}

void WindowFrontEnd::DoShow(Control* control, bool visible) {
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
  if (widget == nullptr || control->isDialog || !widget->visible()) {
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
  if (control->widget == nullptr) {
    return {};
  }
  if (!control->isDialog && control->kind == ControlKind::Edit) {
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
  window_->hide();
}

bool WindowFrontEnd::ControlRect(const DialogTemplate& dialogTemplate, int controlId,
                                 PixelRect& rect) {
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

WindowFrontEnd* theFrontEnd = nullptr;

}  // namespace

bool WindowFrontEndBuilt() {
  return true;
}

DialogFrontEnd* OpenWindowFrontEnd() {
  if (theFrontEnd != nullptr) {
    return theFrontEnd;
  }
  // The toolkit ends the process when it cannot open the display itself; opening it here first
  // turns that into a null result, so the console can take over.
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return nullptr;
  }
  fl_open_display(display);
  TakePaintNotice();
  Fl::scheme("gtk+");
  Fl::background(0xEC, 0xEC, 0xEC);  // buttons: light grey on the white dialog
  int x = 0, y = 0, width = 0, height = 0;
  Fl::screen_xywh(x, y, width, height, 0);
  // Kept until the process ends: a worker may still be finishing when the dialog has closed.
  theFrontEnd = new WindowFrontEnd(width, height);
  return theFrontEnd;
}

bool WindowControlRect(const DialogTemplate& dialogTemplate, int controlId, PixelRect& rect) {
  return theFrontEnd != nullptr && theFrontEnd->ControlRect(dialogTemplate, controlId, rect);
}

}  // namespace platform
