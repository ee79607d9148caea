// The download cache in the device's Temp folder. A loader killed mid-download leaves its cache
// copy behind; the next loader on the device sweeps such copies away.
#pragma once

namespace platform {

// Every file a download writes is named so, followed by a random part, "-" and the file's own
// name; the download holds an exclusive flock on it while it writes.
inline constexpr char kCacheFilePrefix[] = "ferrovan-cache.";

// Removes the cache copies in ROOT/Temp/ that no live download holds locked. Call it once the
// device lock is held, right after taking it.
void RemoveAbandonedCacheFiles();

}  // namespace platform
