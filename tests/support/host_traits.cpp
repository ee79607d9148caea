#include "tests/support/host_traits.h"

#include <cstdlib>

namespace testing_support {

bool HostNamesTellCaseApart() {
  return true;
}

std::string DemoClientProgram() {
  return FERROVAN_BINARY_DIR "/ferrovan-demo-client";
}

void SetVariable(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace testing_support
