// How long a download may wait on its server, the same on every host: a server that takes no
// connection, or one that stops sending, must end in a failed download the user can mend, never
// in a loader that waits for ever.
#pragma once

namespace platform {

// A connection not made within this time fails the download.
inline constexpr long kConnectSeconds = 30;

// A transfer that receives nothing for this long fails: FERROVAN_DOWNLOAD_STALL_SECONDS (a
// positive whole number; the tests shorten it), else 60.
long StallSeconds();

}  // namespace platform
