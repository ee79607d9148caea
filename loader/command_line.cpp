#include "loader/command_line.h"

#include <cwchar>

int FindSubstring(const wchar_t* text, const wchar_t* pattern) {
  const wchar_t* found = std::wcsstr(text, pattern);
  return found != nullptr ? static_cast<int>(found - text) : -1;
}

void ParseCommandLine(LoaderContext* context, const wchar_t* commandLine) {
  // A process may be started with no command-line text at all; that is an empty one.
  if (commandLine == nullptr) {
    commandLine = L"";
  }
  if (FindSubstring(commandLine, L"-InstallCF35MessagesEN") >= 0) {
    context->installCfMessages = true;
  }
  if (FindSubstring(commandLine, L"-ForceToUpgrade") >= 0) {
    context->forceUpgrade = true;
  }
  if (FindSubstring(commandLine, L"-DoNotRunNewLoader") < 0) {
    context->updateLoader = true;
  }
}
