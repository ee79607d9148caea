#include "tests/support/host_traits.h"

namespace testing_support {

bool HostNamesTellCaseApart() {
  return true;
}

}  // namespace testing_support
