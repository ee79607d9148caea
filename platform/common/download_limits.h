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

// A transfer that breaks after it has brought bytes (a hand-held roaming between access points
// drops its connections) is resumed where it stopped: a range asked for the same version of the
// file (If-Range on its strong ETag, else on its Last-Modified date), as long as each try brings
// more of the file, this many times at most in one download. A server that answers the range
// with the whole file starts the body again.
inline constexpr int kMaxResumes = 8;

}  // namespace platform
