#include "device/program_launch.h"

#include <span>

#include "platform/processes.h"
#include "platform/text.h"

bool RunProgram(const wchar_t* file, const wchar_t* parameters) {
  return platform::Processes().Start(file, parameters != nullptr ? parameters : L"", false);
}

bool FormatInstallerParameters(wchar_t* out, const wchar_t* package) {
  std::span<wchar_t> text(out, MAX_PATH);
  // Keep the package file (the caller deletes it) and install without asking the user.
  if (platform::FormatText(text, L"/delete 0 /noui  \"%s\"", package)) {
    return true;
  }
  text[0] = L'\0';
  return false;
}

bool RunInstaller(const wchar_t* file) {
  wchar_t parameters[MAX_PATH];
  // A cut path would hand the installer another file.
  if (!FormatInstallerParameters(parameters, file)) {
    return false;
  }
  return platform::Processes().Start(kCabInstaller, parameters, true);
}
