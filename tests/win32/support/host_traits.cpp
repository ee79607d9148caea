#include "tests/support/host_traits.h"

namespace testing_support {

bool HostNamesTellCaseApart() {
  return false;
}

}  // namespace testing_support
