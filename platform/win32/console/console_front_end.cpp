// The loader dialog on standard input and output, following the same console protocol as the
// Linux host so that scripts drive both alike: status texts on standard output, message boxes
// on standard error, the address prompt reading one line from standard input. Pipes and files
// carry UTF-8 with '\n' line breaks; a console window gets its own wide calls.
#include <algorithm>
#include <climits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/console/console_front_end.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

DWORD Chunk(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
}

std::wstring_view FirstLine(std::wstring_view text) {
  return text.substr(0, text.find(L'\n'));
}

// Console rows that text (lines separated by '\n') takes in a buffer of that width.
SHORT RowsOf(std::wstring_view text, SHORT columns) {
  const std::size_t width = columns > 0 ? static_cast<std::size_t>(columns) : 80;
  std::size_t rows = 0;
  for (;;) {
    const std::size_t end = text.find(L'\n');
    const std::size_t length = text.substr(0, end).size();
    rows += length == 0 ? 1 : (length + width - 1) / width;
    if (end == std::wstring_view::npos) {
      return static_cast<SHORT>(std::min<std::size_t>(rows, SHRT_MAX));
    }
    text.remove_prefix(end + 1);
  }
}

class Console final : public ConsoleDialog {
 public:
  Console(HANDLE input, HANDLE output, HANDLE error) : in_(input), out_(output), err_(error) {}

  int GetSystemMetrics(int index) override;
  void MessageBox(const wchar_t* text, const wchar_t* caption) override;

 private:
  void ShowStatus(const std::wstring& text) override;
  std::optional<std::wstring> AskForAddress(const std::wstring& current) override;
  std::optional<std::wstring> ReadLine();
  std::optional<std::wstring> ReadConsoleLine(const std::wstring& start);

  const HANDLE in_;
  const HANDLE out_;
  const HANDLE err_;

  // Output state: what the last status text left in a console window, for in-place progress.
  std::mutex outputMutex_;
  SHORT statusRows_ = 0;
  std::wstring statusFirstLine_;
};

int Console::GetSystemMetrics(int index) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  const bool known = GetConsoleScreenBufferInfo(out_, &info) != 0;
  if (index == SM_CXSCREEN) {
    return known ? info.srWindow.Right - info.srWindow.Left + 1 : 80;
  }
  if (index == SM_CYSCREEN) {
    return known ? info.srWindow.Bottom - info.srWindow.Top + 1 : 24;
  }
  return 0;
}

void Console::ShowStatus(const std::wstring& text) {
  const std::wstring shown = WithPlainLineBreaks(text);
  std::lock_guard lock(outputMutex_);
  CONSOLE_SCREEN_BUFFER_INFO info;
  const bool console = GetConsoleScreenBufferInfo(out_, &info) != 0;
  // In a console window, successive texts about the same thing (the progress of one download:
  // same file name on the first line) overwrite each other instead of scrolling.
  if (console && statusRows_ > 0 && shown.find(L'\n') != std::wstring::npos &&
      FirstLine(shown) == statusFirstLine_ && info.dwCursorPosition.Y >= statusRows_) {
    const COORD start{0, static_cast<SHORT>(info.dwCursorPosition.Y - statusRows_)};
    DWORD cleared;
    FillConsoleOutputCharacterW(out_, L' ', static_cast<DWORD>(statusRows_) * info.dwSize.X, start,
                                &cleared);
    SetConsoleCursorPosition(out_, start);
  }
  WriteText(out_, shown + L"\n");
  statusRows_ = console ? RowsOf(shown, info.dwSize.X) : 0;
  statusFirstLine_ = FirstLine(shown);
}

std::optional<std::wstring> Console::AskForAddress(const std::wstring& current) {
  const std::wstring prompt = L"Server address [" + current + L"]: ";
  const bool consoleIn = IsConsole(in_);
  {
    std::lock_guard lock(outputMutex_);
    WriteText(out_, consoleIn ? prompt : prompt + L"\n");
    statusRows_ = 0;
  }
  if (!consoleIn) {
    return ReadLine();
  }
  // Someone who sees the prompt starts from the current address, for editing.
  return ReadConsoleLine(IsConsole(out_) ? current : std::wstring());
}

// Takes nothing past the line from a pipe or file that a program started later goes on
// reading: what waits in a pipe is looked at before exactly the line's bytes are taken, what is
// read past the line from a file is given back, and anything else is read byte by byte.
std::optional<std::wstring> Console::ReadLine() {
  BoundedLine line;
  const DWORD type = GetFileType(in_);
  std::vector<char> chunk(65536);
  const auto size = static_cast<DWORD>(chunk.size());
  while (!line.Done()) {
    DWORD got = 0;
    if (type == FILE_TYPE_PIPE && PeekNamedPipe(in_, chunk.data(), size, &got, nullptr, nullptr) &&
        got > 0) {
      for (std::size_t left = line.Take(chunk.data(), got); left > 0;) {
        DWORD taken = 0;
        if (!ReadFile(in_, chunk.data(), static_cast<DWORD>(left), &taken, nullptr) || taken == 0) {
          line.EndOfInput();
          break;
        }
        left -= taken;
      }
      continue;
    }
    // A file, or a pipe with nothing in it yet: this read waits for input.
    const DWORD wanted = type == FILE_TYPE_DISK ? size : 1;
    if (!ReadFile(in_, chunk.data(), wanted, &got, nullptr) || got == 0) {
      line.EndOfInput();
      break;
    }
    const std::size_t taken = line.Take(chunk.data(), got);
    if (taken < got) {
      LARGE_INTEGER back;
      back.QuadPart = -static_cast<LONGLONG>(got - taken);
      SetFilePointerEx(in_, back, nullptr, FILE_CURRENT);
    }
  }
  std::optional<std::string> text = line.Result();
  if (!text.has_value()) {
    return std::nullopt;
  }
  return Utf8ToWide(*text);
}

// The console's own line editing. The start text is typed into the input first, as if the user
// had, so that it can be edited like the rest. Ctrl+Z (then Enter) ends the input: Cancel.
std::optional<std::wstring> Console::ReadConsoleLine(const std::wstring& start) {
  std::vector<INPUT_RECORD> keys;
  for (const wchar_t character : start) {
    for (const BOOL down : {TRUE, FALSE}) {
      INPUT_RECORD key{};
      key.EventType = KEY_EVENT;
      key.Event.KeyEvent.bKeyDown = down;
      key.Event.KeyEvent.wRepeatCount = 1;
      key.Event.KeyEvent.uChar.UnicodeChar = character;
      keys.push_back(key);
    }
  }
  if (!keys.empty()) {
    DWORD written;
    WriteConsoleInputW(in_, keys.data(), static_cast<DWORD>(keys.size()), &written);
  }
  std::wstring kept;
  bool any = false;
  wchar_t buffer[512];
  for (;;) {
    DWORD got = 0;
    if (!ReadConsoleW(in_, buffer, static_cast<DWORD>(std::size(buffer)), &got, nullptr) ||
        got == 0) {
      return any ? std::optional<std::wstring>(kept) : std::nullopt;
    }
    any = true;
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] == L'\n') {
        if (!kept.empty() && kept.back() == L'\r') {
          kept.pop_back();
        }
        if (!kept.empty() && kept.front() == L'\x1a') {
          return std::nullopt;
        }
        return kept;
      }
      // What an edit box cannot hold is read and dropped.
      if (kept.size() < kEditTextLimit || buffer[i] == L'\r') {
        kept += buffer[i];
      }
    }
  }
}

void Console::MessageBox(const wchar_t* text, const wchar_t* caption) {
  {
    std::lock_guard lock(outputMutex_);
    WriteText(err_, WithPlainLineBreaks(caption != nullptr ? caption : L"") + L"\n" +
                        WithPlainLineBreaks(text != nullptr ? text : L"") + L"\n");
    statusRows_ = 0;
  }
  // Someone at a console dismisses the box with Enter; elsewhere nobody could.
  if (IsConsole(in_) && IsConsole(err_)) {
    wchar_t character;
    DWORD got;
    while (ReadConsoleW(in_, &character, 1, &got, nullptr) && got == 1 && character != L'\n') {
    }
  }
}

}  // namespace

// A failed write (a closed pipe, a full disk) is dropped: the loader goes on as on the device.
void WriteText(HANDLE handle, std::wstring_view text) {
  if (IsConsole(handle)) {
    while (!text.empty()) {
      DWORD written = 0;
      if (!WriteConsoleW(handle, text.data(), Chunk(text.size()), &written, nullptr) ||
          written == 0) {
        return;
      }
      text.remove_prefix(written);
    }
    return;
  }
  const std::string bytes = WideToUtf8(text);
  std::string_view left = bytes;
  while (!left.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle, left.data(), Chunk(left.size()), &written, nullptr) || written == 0) {
      return;
    }
    left.remove_prefix(written);
  }
}

DialogFrontEnd& ConsoleFrontEnd() {
  // Never destroyed: a worker may still be finishing when the process ends.
  static Console* const console =
      new Console(GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                  GetStdHandle(STD_ERROR_HANDLE));
  return *console;
}

std::unique_ptr<DialogFrontEnd> MakeConsoleFrontEnd(HANDLE input, HANDLE output, HANDLE error) {
  return std::make_unique<Console>(input, output, error);
}

}  // namespace platform
