// How long a download may wait on its server, the same on every host: a server that takes no
// connection, one that stops sending, or one that only trickles, must end in a failed download
// the user can mend, never in a loader that waits for ever.
#pragma once

namespace platform {

// A connection not made within this time fails the download.
inline constexpr long kConnectSeconds = 30;

// A transfer that receives nothing for this long fails: FERROVAN_DOWNLOAD_STALL_SECONDS (a
// positive whole number; the tests shorten it), else 60.
long StallSeconds();

// A transfer whose rate stays below this floor for a whole window of StallSeconds() fails, so
// that no server can hold a download, and with it the device's lock, by sending a trickle: 1 KiB
// a second, 8 kbit/s, is below the slowest network a hand-held meets (GPRS carries 2 to 5 KB a
// second) and far above a trickle that only keeps the connection open. Over the default window a
// link may stand still for most of a minute and still pass.
inline constexpr long kRateFloorBytesPerSecond = 1024;

}  // namespace platform
