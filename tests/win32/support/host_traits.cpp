#include "tests/support/host_traits.h"

#include <cstdlib>

#include "platform/host.h"
#include "platform/windows_types.h"

namespace testing_support {

bool HostNamesTellCaseApart() {
  return false;
}

// Built beside the test programs.
std::string DemoClientProgram() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self, length);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return platform::WideToUtf8(folder + L"ferrovan-demo-client.exe");
}

// The C runtime's own copy and the system's environment, which started programs inherit.
void SetVariable(const char* name, const char* value) {
  _putenv_s(name, value != nullptr ? value : "");
}

}  // namespace testing_support
