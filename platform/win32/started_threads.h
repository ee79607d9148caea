// The background threads this process has started, for the entry to let them end before the
// process does.
#pragma once

namespace platform {

// Waits until every thread started through the thread service has ended, at most milliseconds
// in all; false when one still runs then.
bool WaitForStartedThreads(unsigned long milliseconds);

}  // namespace platform
