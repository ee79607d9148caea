// The Windows host's entry: where its texts go and how it ends, then the start-up both hosts
// share.
//
// The program is a GUI one, so that a user who starts it from a shortcut sees the dialog and no
// console window. Texts for the standard streams go to the handles it was given (pipes and files
// under a script); without them, to the console of the program that started it, when there is
// one, else to a message box.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_lock.h"
#include "platform/win32/console/console_front_end.h"
#include "platform/win32/started_threads.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"
#include "program/host_start.h"

// After the system's own headers, which it needs.
#include <shellapi.h>

namespace {

constexpr unsigned long kThreadEndWaitMilliseconds = 5000;
// The newest loader this one starts waits quietly for its end only so long.
static_assert(kThreadEndWaitMilliseconds < platform::kStartingLoaderEndMilliseconds);

// Follows program::kHostHelp: what differs between the hosts.
constexpr const char* kHostHelpEnd =
    "Environment:\n"
    "  FERROVAN_DEVICE_ROOT  the device root when --device-root is not given\n"
    "  FERROVAN_UI           the front end (console or window) when --ui is not given;\n"
    "                        without both, the window when one can be opened, else the console\n"
    "\n"
    "Device root: --device-root, else FERROVAN_DEVICE_ROOT, else X when this program stands\n"
    "in X\\Program Files\\FerroVanMobile\\, else %LOCALAPPDATA%\\ferrovan\\device. A named root\n"
    "is refused, and X passed over, when it is a drive's or a share's top (C:\\) or a system\n"
    "folder (the Windows folder, Program Files, the user's profile); X is passed over as well\n"
    "when it is a mounted folder.\n"
    "Device paths map into it. Programs the loader starts see FERROVAN_DEVICE_ROOT and\n"
    "FERROVAN_UI. The loader exits with status 0; a bad host option gives status 2.\n";

bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Gives the standard handles that the process lacks to the console of the program that started
// it, when that has one; false when none of the three can be had.
bool UseParentConsole() {
  const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  bool missing = false;
  for (const DWORD stream : streams) {
    missing = missing || !Usable(GetStdHandle(stream));
  }
  if (missing && AttachConsole(ATTACH_PARENT_PROCESS)) {
    for (const DWORD stream : streams) {
      if (Usable(GetStdHandle(stream))) {
        continue;
      }
      const HANDLE console = CreateFileW(
          stream == STD_INPUT_HANDLE ? L"CONIN$" : L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
      if (Usable(console)) {
        SetStdHandle(stream, console);
      }
    }
  }
  for (const DWORD stream : streams) {
    if (Usable(GetStdHandle(stream))) {
      return true;
    }
  }
  return false;
}

// Texts for the standard streams, which may be a console or a pipe or file; a program started
// without either (from a shortcut) shows them in a message box instead.
void Print(DWORD stream, std::string_view text) {
  const HANDLE handle = GetStdHandle(stream);
  if (Usable(handle) || UseParentConsole()) {
    platform::WriteText(GetStdHandle(stream), platform::Utf8ToWide(text));
    return;
  }
  MessageBoxW(nullptr, platform::Utf8ToWide(text).c_str(), L"ferrovan-loader",
              stream == STD_ERROR_HANDLE ? MB_OK | MB_ICONERROR : MB_OK);
}

void PrintText(bool error, std::string_view text) {
  Print(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, text);
}

void SetVariable(const char* name, const std::string& value) {
  SetEnvironmentVariableW(platform::Utf8ToWide(name).c_str(), platform::Utf8ToWide(value).c_str());
}

std::string OwnProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return platform::WideToUtf8(path);
    }
    path.resize(path.size() * 2);
  }
}

// The window is tried whenever nothing names the front end.
bool WindowLikely() {
  return true;
}

// The console front end needs a console or the standard handles: one started from a shortcut
// gets a console of its own.
void PrepareConsole() {
  if (!UseParentConsole() && AllocConsole()) {
    UseParentConsole();
  }
}

// The worker may still be finishing its last steps. Under Wine a process that ends while one of
// its threads is still ending is now and then killed instead of ending with its status, so it
// gets a bounded time to end; static destructors are still not run.
void EndProcess(int status) {
  platform::WaitForStartedThreads(kThreadEndWaitMilliseconds);
  std::fflush(stdout);
  std::fflush(stderr);
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace

// Only the command-line text is used: the system's own split of it gives the arguments.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> arguments;
  for (int index = 1; argv != nullptr && index < argc; ++index) {
    arguments.push_back(platform::WideToUtf8(argv[index]));
  }
  LocalFree(argv);
  return program::StartHost(arguments, {kHostHelpEnd, SetVariable, OwnProgramPath, PrintText,
                                        WindowLikely, PrepareConsole, EndProcess});
}
