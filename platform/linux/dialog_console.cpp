// The loader dialog in a terminal or a pipe. The status line goes to standard output, message
// boxes to standard error, and the address prompt reads one line from standard input. The
// dialog's state lives in small records, one per window, that the handles point at; the thread
// that runs RunModal carries out every change, in the order the calls were made.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/dialog_console.h"
#include "platform/linux/utf8.h"

namespace platform {
namespace {

struct ConsoleWindow {
  int id = 0;
  bool isDialog = false;
  ControlKind kind = ControlKind::Static;
  std::wstring text;
  bool visible = false;
  std::intptr_t userData = 0;
};

ConsoleWindow* WindowOf(WindowHandle handle) {
  return reinterpret_cast<ConsoleWindow*>(handle);
}
WindowHandle HandleOf(ConsoleWindow* window) {
  return reinterpret_cast<WindowHandle>(window);
}

void WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

// One byte from fd; false at end of input or on a read error.
bool ReadByte(int fd, char& byte) {
  for (;;) {
    const ssize_t got = read(fd, &byte, 1);
    if (got == 1) {
      return true;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    return false;
  }
}

// One line of input as the edit box takes it: at most kEditTextLimit characters are kept, the
// rest up to the line end is read and dropped, so a line of any length costs bounded memory.
// The readers consume exactly up to and including the line end.
class LineReader {
 public:
  void FromFile(int fd);
  void FromPipe(int fd);
  void FromSocket(int fd);
  // Goes on where a reader above stopped, unless the line is already complete.
  void ByteByByte(int fd);
  // The line without its line end; nothing at end of input before any byte.
  std::optional<std::string> Result();

 private:
  static constexpr std::size_t kChunk = 65536;

  bool Done() const { return ended_ || endOfInput_; }
  // Takes bytes up to and including a line end; returns how many it took.
  std::size_t Take(const char* bytes, std::size_t count);

  std::string kept_;
  std::size_t characters_ = 0;
  bool full_ = false;
  bool crKept_ = false;
  bool any_ = false;
  bool ended_ = false;
  bool endOfInput_ = false;
};

std::size_t LineReader::Take(const char* bytes, std::size_t count) {
  any_ = any_ || count > 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char byte = bytes[i];
    if (byte == '\n') {
      ended_ = true;
      return i + 1;
    }
    // Cut only in front of a character's first byte, so no character is kept in part.
    if ((byte & 0xC0) != 0x80) {
      if (characters_ == kEditTextLimit) {
        full_ = true;
      } else if (!full_) {
        ++characters_;
      }
    }
    if (!full_) {
      kept_ += byte;
    }
    crKept_ = !full_ && byte == '\r';
  }
  return count;
}

std::optional<std::string> LineReader::Result() {
  if (!any_) {
    return std::nullopt;
  }
  // "\r\n" ends a line as "\n" does. A last line without its line end still counts.
  if (ended_ && crKept_) {
    kept_.pop_back();
  }
  return kept_;
}

void LineReader::FromFile(int fd) {
  std::vector<char> chunk(kChunk);
  while (!Done()) {
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      endOfInput_ = true;
      return;
    }
    const std::size_t taken = Take(chunk.data(), static_cast<std::size_t>(got));
    if (taken < static_cast<std::size_t>(got)) {
      // Gives back what lies past the line, for whoever reads the file next.
      lseek(fd, -static_cast<off_t>(static_cast<std::size_t>(got) - taken), SEEK_CUR);
    }
  }
}

void LineReader::FromPipe(int fd) {
  // tee(2) copies what waits in the pipe into a private one without taking it; then exactly the
  // line's bytes are read from the real pipe.
  int peek[2];
  if (pipe2(peek, O_CLOEXEC) != 0) {
    return;
  }
  std::vector<char> chunk(kChunk);
  while (!Done()) {
    const ssize_t copied = tee(fd, peek[1], chunk.size(), 0);
    if (copied < 0 && errno == EINTR) {
      continue;
    }
    if (copied < 0) {
      break;  // not a pipe tee can copy from, or one that never waits: byte by byte then
    }
    if (copied == 0) {
      endOfInput_ = true;
      break;
    }
    const std::size_t available = static_cast<std::size_t>(copied);
    std::size_t seen = 0;
    while (seen < available) {
      const ssize_t got = read(peek[0], chunk.data() + seen, available - seen);
      if (got <= 0 && !(got < 0 && errno == EINTR)) {
        break;
      }
      seen += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    std::size_t left = Take(chunk.data(), seen);
    while (left > 0) {
      const ssize_t got = read(fd, chunk.data(), left);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      left -= static_cast<std::size_t>(got);
    }
    if (seen < available) {
      break;
    }
  }
  close(peek[0]);
  close(peek[1]);
}

void LineReader::FromSocket(int fd) {
  std::vector<char> chunk(kChunk);
  while (!Done()) {
    const ssize_t got = recv(fd, chunk.data(), chunk.size(), MSG_PEEK);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return;
    }
    if (got == 0) {
      endOfInput_ = true;
      return;
    }
    std::size_t left = Take(chunk.data(), static_cast<std::size_t>(got));
    while (left > 0) {
      const ssize_t taken = recv(fd, chunk.data(), left, 0);
      if (taken < 0 && errno == EINTR) {
        continue;
      }
      if (taken <= 0) {
        return;
      }
      left -= static_cast<std::size_t>(taken);
    }
  }
}

void LineReader::ByteByByte(int fd) {
  char byte;
  while (!Done()) {
    if (!ReadByte(fd, byte)) {
      endOfInput_ = true;
      return;
    }
    Take(&byte, 1);
  }
}

// The device's line break "\r\n" becomes the host's.
std::string ToConsoleText(const std::wstring& text) {
  std::string narrow = ToUtf8(text);
  std::string result;
  result.reserve(narrow.size());
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    if (narrow[i] == '\r' && i + 1 < narrow.size() && narrow[i + 1] == '\n') {
      continue;
    }
    result += narrow[i];
  }
  return result;
}

std::size_t CodePoints(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Terminal rows that text (lines separated by '\n') takes on a terminal of that width.
int RowsOf(std::string_view text, std::size_t columns) {
  int rows = 0;
  for (;;) {
    const std::size_t end = text.find('\n');
    const std::size_t width = CodePoints(text.substr(0, end));
    rows += width == 0 ? 1 : static_cast<int>((width + columns - 1) / columns);
    if (end == std::string_view::npos) {
      return rows;
    }
    text.remove_prefix(end + 1);
  }
}

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find('\n'));
}

// False while the last UTF-8 character of text still lacks bytes.
bool EndsWithWholeCharacter(std::string_view text) {
  std::size_t continuation = 0;
  while (continuation < text.size() && (text[text.size() - 1 - continuation] & 0xC0) == 0x80) {
    ++continuation;
  }
  if (continuation == text.size()) {
    return continuation == 0;
  }
  const auto lead = static_cast<unsigned char>(text[text.size() - 1 - continuation]);
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  return continuation + 1 >= length;
}

// Puts the terminal into character mode while the address is edited, and always back.
class RawMode {
 public:
  explicit RawMode(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) {
      return;
    }
    termios raw = saved_;
    // Ctrl-C arrives as a key (and cancels) so that the terminal is never left raw.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
  }
  ~RawMode() {
    if (active_) {
      tcsetattr(fd_, TCSANOW, &saved_);
    }
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
  bool Active() const { return active_; }

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

class Console final : public DialogFrontEnd {
 public:
  Console(int input, int output, int error) : in_(input), out_(output), err_(error) {}

  std::intptr_t RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                         std::intptr_t param) override;
  WindowHandle GetItem(WindowHandle dialog, int controlId) override;
  void SetUserData(WindowHandle window, std::intptr_t value) override;
  std::intptr_t GetUserData(WindowHandle window) override;
  int GetSystemMetrics(int index) override;
  void Move(WindowHandle, int, int, int, int, bool) override {}
  void Show(WindowHandle window, bool visible) override;
  void SetText(WindowHandle window, const wchar_t* text) override;
  int GetText(WindowHandle window, std::span<wchar_t> text) override;
  void EndDialog(WindowHandle dialog, std::intptr_t result) override;
  void MessageBox(const wchar_t* text, const wchar_t* caption) override;
  void BackgroundThreadEnded() override;

 private:
  struct Task {
    std::function<void()> run;
    bool* done;  // set once run has finished, for a caller that waits
  };

  // Runs task on the loop's thread: at once when called there (or when no loop runs), else
  // queued behind earlier calls; waits for it when wait is true.
  void Perform(std::function<void()> task, bool wait);
  bool PromptShownLocked() const;
  void AskForAddress();
  std::optional<std::string> ReadLine();
  std::optional<std::string> EditLine(const std::string& prompt, std::string line);
  void PrintStatus(const std::wstring& text);
  std::size_t Columns() const;

  const int in_;
  const int out_;
  const int err_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;
  std::vector<std::unique_ptr<ConsoleWindow>> windows_;
  ConsoleWindow* dialog_ = nullptr;
  ConsoleWindow* edit_ = nullptr;
  ConsoleWindow* ok_ = nullptr;
  ConsoleWindow* cancel_ = nullptr;
  DialogProc proc_ = nullptr;
  std::thread::id loopThread_;
  bool looping_ = false;
  bool ended_ = false;
  bool threadEnded_ = false;
  std::intptr_t result_ = 0;

  // Output state: what the last status text left on the terminal, for in-place progress.
  std::mutex outputMutex_;
  int statusRows_ = 0;
  std::string statusFirstLine_;
};

std::intptr_t Console::RunModal(const DialogTemplate& dialogTemplate, DialogProc proc,
                                std::intptr_t param) {
  WindowHandle dialog;
  {
    std::lock_guard lock(mutex_);
    windows_.clear();
    tasks_.clear();
    edit_ = ok_ = cancel_ = nullptr;
    auto& dialogWindow = windows_.emplace_back(std::make_unique<ConsoleWindow>());
    dialogWindow->isDialog = true;
    dialogWindow->visible = true;
    dialog_ = dialogWindow.get();
    for (const ControlTemplate& control : dialogTemplate.controls) {
      auto& window = windows_.emplace_back(std::make_unique<ConsoleWindow>());
      window->id = control.id;
      window->kind = control.kind;
      window->text = control.text != nullptr ? control.text : L"";
      window->visible = control.visible;
      if (control.kind == ControlKind::Edit) {
        edit_ = window.get();
      } else if (control.kind == ControlKind::DefaultPushButton) {
        ok_ = window.get();
      } else if (control.kind == ControlKind::PushButton) {
        cancel_ = window.get();
      }
    }
    proc_ = proc;
    loopThread_ = std::this_thread::get_id();
    looping_ = true;
    ended_ = false;
    threadEnded_ = false;
    result_ = 0;
    dialog = HandleOf(dialog_);
  }
  proc(dialog, WM_INITDIALOG, 0, param);

  std::unique_lock lock(mutex_);
  while (!ended_) {
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task.run();
      lock.lock();
      if (task.done != nullptr) {
        *task.done = true;
        changed_.notify_all();
      }
      continue;
    }
    // The prompt is asked only once the worker that showed it has ended and everything it
    // queued has been carried out, so the edit box holds its final text.
    if (threadEnded_) {
      threadEnded_ = false;
      if (PromptShownLocked()) {
        lock.unlock();
        AskForAddress();
        lock.lock();
      }
      continue;
    }
    changed_.wait(lock);
  }
  looping_ = false;
  for (Task& task : tasks_) {
    if (task.done != nullptr) {
      *task.done = true;
    }
  }
  tasks_.clear();
  changed_.notify_all();
  return result_;
}

void Console::Perform(std::function<void()> task, bool wait) {
  std::unique_lock lock(mutex_);
  if (!looping_ || std::this_thread::get_id() == loopThread_) {
    lock.unlock();
    task();
    return;
  }
  bool done = false;
  tasks_.push_back({std::move(task), wait ? &done : nullptr});
  changed_.notify_all();
  if (wait) {
    changed_.wait(lock, [&done] { return done; });
  }
}

bool Console::PromptShownLocked() const {
  return edit_ != nullptr && ok_ != nullptr && cancel_ != nullptr && edit_->visible &&
         ok_->visible && cancel_->visible;
}

WindowHandle Console::GetItem(WindowHandle dialog, int controlId) {
  std::lock_guard lock(mutex_);
  if (dialog == nullptr || WindowOf(dialog) != dialog_) {
    return nullptr;
  }
  for (const auto& window : windows_) {
    if (!window->isDialog && window->id == controlId) {
      return HandleOf(window.get());
    }
  }
  return nullptr;
}

void Console::SetUserData(WindowHandle window, std::intptr_t value) {
  if (window == nullptr) {
    return;
  }
  std::lock_guard lock(mutex_);
  WindowOf(window)->userData = value;
}

std::intptr_t Console::GetUserData(WindowHandle window) {
  if (window == nullptr) {
    return 0;
  }
  std::lock_guard lock(mutex_);
  return WindowOf(window)->userData;
}

int Console::GetSystemMetrics(int index) {
  winsize size{};
  const bool known = ioctl(out_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
  if (index == SM_CXSCREEN) {
    return known ? size.ws_col : 80;
  }
  if (index == SM_CYSCREEN) {
    return known ? size.ws_row : 24;
  }
  return 0;
}

void Console::Show(WindowHandle window, bool visible) {
  if (window == nullptr) {
    return;
  }
  Perform(
      [this, window, visible] {
        std::lock_guard lock(mutex_);
        WindowOf(window)->visible = visible;
      },
      false);
}

void Console::SetText(WindowHandle window, const wchar_t* text) {
  if (window == nullptr) {
    return;
  }
  std::wstring copy = text != nullptr ? text : L"";
  Perform(
      [this, window, &copy] {
        ConsoleWindow* target = WindowOf(window);
        bool isStatus;
        {
          std::lock_guard lock(mutex_);
          target->text = copy;
          isStatus = !target->isDialog && target->kind == ControlKind::Static;
        }
        if (isStatus) {
          PrintStatus(copy);
        }
      },
      true);
}

int Console::GetText(WindowHandle window, std::span<wchar_t> text) {
  if (window == nullptr || text.empty()) {
    return 0;
  }
  std::lock_guard lock(mutex_);
  const std::wstring& current = WindowOf(window)->text;
  const std::size_t length = std::min(current.size(), text.size() - 1);
  std::copy_n(current.begin(), length, text.begin());
  text[length] = L'\0';
  return static_cast<int>(length);
}

void Console::EndDialog(WindowHandle dialog, std::intptr_t result) {
  if (dialog == nullptr) {
    return;
  }
  Perform(
      [this, result] {
        std::lock_guard lock(mutex_);
        ended_ = true;
        result_ = result;
      },
      false);
}

void Console::MessageBox(const wchar_t* text, const wchar_t* caption) {
  {
    std::lock_guard lock(outputMutex_);
    WriteAll(err_, ToConsoleText(caption != nullptr ? caption : L"") + "\n" +
                       ToConsoleText(text != nullptr ? text : L"") + "\n");
    statusRows_ = 0;
  }
  // Someone at a terminal dismisses the box with Enter; elsewhere nobody could.
  if (isatty(in_) && isatty(err_)) {
    char byte;
    while (ReadByte(in_, byte) && byte != '\n') {
    }
  }
}

void Console::BackgroundThreadEnded() {
  std::lock_guard lock(mutex_);
  threadEnded_ = true;
  changed_.notify_all();
}

void Console::PrintStatus(const std::wstring& text) {
  const std::string shown = ToConsoleText(text);
  std::lock_guard lock(outputMutex_);
  std::string output;
  // On a terminal, successive texts about the same thing (the progress of one download: same
  // file name on the first line) overwrite each other instead of scrolling.
  const bool terminal = isatty(out_) != 0;
  if (terminal && statusRows_ > 0 && shown.find('\n') != std::string::npos &&
      FirstLine(shown) == statusFirstLine_) {
    for (int row = 0; row < statusRows_; ++row) {
      output += "\x1b[1A\x1b[2K";
    }
    output += "\r";
  }
  output += shown;
  output += "\n";
  WriteAll(out_, output);
  statusRows_ = terminal ? RowsOf(shown, Columns()) : 0;
  statusFirstLine_ = FirstLine(shown);
}

std::size_t Console::Columns() const {
  winsize size{};
  return ioctl(out_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void Console::AskForAddress() {
  std::string current;
  DialogProc proc;
  WindowHandle dialog, ok, cancel;
  {
    std::lock_guard lock(mutex_);
    current = ToUtf8(edit_->text);
    proc = proc_;
    dialog = HandleOf(dialog_);
    ok = HandleOf(ok_);
    cancel = HandleOf(cancel_);
  }
  const std::string prompt = "Server address [" + current + "]: ";
  std::optional<std::string> line;
  const bool terminalIn = isatty(in_) != 0;
  if (terminalIn && isatty(out_)) {
    line = EditLine(prompt, current);
  } else {
    {
      std::lock_guard lock(outputMutex_);
      WriteAll(out_, terminalIn ? prompt : prompt + "\n");
      statusRows_ = 0;
    }
    line = ReadLine();
  }
  if (line.has_value()) {
    std::lock_guard lock(mutex_);
    edit_->text = FromUtf8(*line);
  }
  WindowHandle control = line.has_value() ? ok : cancel;
  const int id = line.has_value() ? WindowOf(ok)->id : WindowOf(cancel)->id;
  proc(dialog, WM_COMMAND, static_cast<std::uintptr_t>(id & 0xFFFF),
       reinterpret_cast<std::intptr_t>(control));
}

std::optional<std::string> Console::ReadLine() {
  LineReader reader;
  struct stat status {};
  if (fstat(in_, &status) == 0) {
    // Where the input lets the loader look ahead, it reads in chunks and gives back (or never
    // takes) what lies past the line; elsewhere only byte by byte takes no more than the line.
    if (S_ISREG(status.st_mode)) {
      reader.FromFile(in_);
    } else if (S_ISFIFO(status.st_mode)) {
      reader.FromPipe(in_);
    } else if (S_ISSOCK(status.st_mode)) {
      reader.FromSocket(in_);
    }
  }
  reader.ByteByByte(in_);
  return reader.Result();
}

std::optional<std::string> Console::EditLine(const std::string& prompt, std::string line) {
  RawMode raw(in_);
  if (!raw.Active()) {
    WriteAll(out_, prompt);
    return ReadLine();
  }
  auto redraw = [&] { WriteAll(out_, "\r\x1b[2K" + prompt + line); };
  {
    std::lock_guard lock(outputMutex_);
    statusRows_ = 0;
  }
  redraw();
  constexpr char kCtrlC = 0x03, kCtrlD = 0x04, kBackspace = 0x08, kCtrlU = 0x15, kEscape = 0x1b,
                 kDelete = 0x7f;
  std::size_t characters = CodePoints(line);
  bool dropping = false;  // the character being typed does not fit into the edit box
  char byte;
  for (;;) {
    if (!ReadByte(in_, byte) || byte == kCtrlC || (byte == kCtrlD && line.empty())) {
      WriteAll(out_, "\n");
      return std::nullopt;
    }
    if (byte == '\r' || byte == '\n') {
      WriteAll(out_, "\n");
      return line;
    }
    if (byte == kBackspace || byte == kDelete) {
      // Drops one whole UTF-8 character: its continuation bytes, then its first byte.
      while (!line.empty() && (line.back() & 0xC0) == 0x80) {
        line.pop_back();
      }
      if (!line.empty()) {
        line.pop_back();
        --characters;
      }
    } else if (byte == kCtrlU) {
      line.clear();
      characters = 0;
    } else if (byte == kEscape) {
      // Cursor and function keys send escape sequences; they are not part of the address.
      char next;
      if (ReadByte(in_, next) && (next == '[' || next == 'O')) {
        while (ReadByte(in_, next) && !(next >= 0x40 && next <= 0x7e)) {
        }
      }
      continue;
    } else if (static_cast<unsigned char>(byte) >= 0x20) {
      if ((byte & 0xC0) != 0x80) {
        dropping = characters >= kEditTextLimit;
        characters += dropping ? 0 : 1;
      }
      if (dropping) {
        continue;
      }
      line += byte;
      if (!EndsWithWholeCharacter(line)) {
        continue;
      }
      // A character typed at the end is only echoed, so a long paste costs no more than its
      // length on the terminal.
      std::size_t start = line.size() - 1;
      while (start > 0 && (line[start] & 0xC0) == 0x80) {
        --start;
      }
      WriteAll(out_, std::string_view(line).substr(start));
      continue;
    } else {
      continue;
    }
    redraw();
  }
}

}  // namespace

DialogFrontEnd& ConsoleFrontEnd() {
  // Never destroyed: a worker may still be finishing when the process ends.
  static Console* const console = new Console(STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO);
  return *console;
}

std::unique_ptr<DialogFrontEnd> MakeConsoleFrontEnd(int input, int output, int error) {
  return std::make_unique<Console>(input, output, error);
}

}  // namespace platform
