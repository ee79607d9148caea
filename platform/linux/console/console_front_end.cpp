// The loader dialog in a terminal or a pipe. The status line goes to standard output, message
// boxes to standard error, and the address prompt reads one line from standard input. The
// dialog's state and the order of changes are the shared console dialog's.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/common/console_dialog.h"
#include "platform/host.h"
#include "platform/linux/console/console_front_end.h"

namespace platform {
namespace {

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

// One line of input as the edit box takes it (BoundedLine). The readers consume exactly up to
// and including the line end.
class LineReader {
 public:
  void FromFile(int fd);
  void FromPipe(int fd);
  void FromSocket(int fd);
  // Goes on where a reader above stopped, unless the line is already complete.
  void ByteByByte(int fd);
  // The line without its line end; nothing at end of input before any byte.
  std::optional<std::string> Result() { return line_.Result(); }

 private:
  static constexpr std::size_t kChunk = 65536;

  bool Done() const { return line_.Done(); }
  std::size_t Take(const char* bytes, std::size_t count) { return line_.Take(bytes, count); }

  BoundedLine line_;
};

void LineReader::FromFile(int fd) {
  std::vector<char> chunk(kChunk);
  while (!Done()) {
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      line_.EndOfInput();
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
      line_.EndOfInput();
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
      line_.EndOfInput();
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
      line_.EndOfInput();
      return;
    }
    Take(&byte, 1);
  }
}

// The device's line break "\r\n" becomes the host's.
std::string ToConsoleText(const std::wstring& text) {
  return WideToUtf8(WithPlainLineBreaks(text));
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

class Console final : public ConsoleDialog {
 public:
  Console(int input, int output, int error) : in_(input), out_(output), err_(error) {}

  int GetSystemMetrics(int index) override;
  void MessageBox(const wchar_t* text, const wchar_t* caption) override;

 private:
  void ShowStatus(const std::wstring& text) override;
  std::optional<std::wstring> AskForAddress(const std::wstring& current) override;
  std::optional<std::string> ReadLine();
  std::optional<std::string> EditLine(const std::string& prompt, std::string line);
  std::size_t Columns() const;

  const int in_;
  const int out_;
  const int err_;

  // Output state: what the last status text left on the terminal, for in-place progress.
  std::mutex outputMutex_;
  int statusRows_ = 0;
  std::string statusFirstLine_;
};

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

void Console::ShowStatus(const std::wstring& text) {
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

std::optional<std::wstring> Console::AskForAddress(const std::wstring& currentText) {
  const std::string current = WideToUtf8(currentText);
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
  if (!line.has_value()) {
    return std::nullopt;
  }
  return Utf8ToWide(*line);
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
