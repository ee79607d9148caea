// The loader dialog in a terminal or a pipe. The status line goes to standard output, message
// boxes to standard error, and the address prompt reads one line from standard input. The
// dialog's state and the order of changes are the shared console dialog's.
#include "platform/linux/console/console_front_end.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/common/console_dialog.h"
#include "platform/host.h"
#include "platform/linux/console/line_editor.h"
#include "platform/linux/console/line_reader.h"
#include "platform/linux/descriptors.h"

namespace platform {
namespace {

// The device's line break "\r\n" becomes the host's.
std::string ToConsoleText(const std::wstring& text) {
  return WideToUtf8(WithPlainLineBreaks(text));
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
  return ReadBoundedLine(in_);
}

std::optional<std::string> Console::EditLine(const std::string& prompt, std::string line) {
  {
    std::lock_guard lock(outputMutex_);
    statusRows_ = 0;
  }
  switch (EditTerminalLine(in_, out_, prompt, line)) {
    case LineEdit::Entered:
      return line;
    case LineEdit::Cancelled:
      return std::nullopt;
    case LineEdit::NoTerminal:
      break;
  }
  WriteAll(out_, prompt);
  return ReadLine();
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