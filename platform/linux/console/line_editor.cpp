#include "platform/linux/console/line_editor.h"

#include <termios.h>

#include "platform/common/console_dialog.h"
#include "platform/linux/console/line_reader.h"
#include "platform/linux/descriptors.h"

namespace platform {
namespace {

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

}  // namespace

std::size_t CodePoints(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    count += (c & 0xC0) != 0x80 ? 1 : 0;
  }
  return count;
}

LineEdit EditTerminalLine(int in, int out, const std::string& prompt, std::string& line) {
  RawMode raw(in);
  if (!raw.Active()) {
    return LineEdit::NoTerminal;
  }
  auto redraw = [&] { WriteAll(out, "\r\x1b[2K" + prompt + line); };
  redraw();
  constexpr char kCtrlC = 0x03, kCtrlD = 0x04, kBackspace = 0x08, kCtrlU = 0x15, kEscape = 0x1b,
                 kDelete = 0x7f;
  std::size_t characters = CodePoints(line);
  bool dropping = false;  // the character being typed does not fit into the edit box
  char byte;
  for (;;) {
    if (!ReadByte(in, byte) || byte == kCtrlC || (byte == kCtrlD && line.empty())) {
      WriteAll(out, "\n");
      return LineEdit::Cancelled;
    }
    if (byte == '\r' || byte == '\n') {
      WriteAll(out, "\n");
      return LineEdit::Entered;
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
      if (ReadByte(in, next) && (next == '[' || next == 'O')) {
        while (ReadByte(in, next) && !(next >= 0x40 && next <= 0x7e)) {
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
      WriteAll(out, std::string_view(line).substr(start));
      continue;
    } else {
      continue;
    }
    redraw();
  }
}

}  // namespace platform
