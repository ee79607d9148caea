// The download copies in the device's Temp folder (and beside a download's target): made here,
// each under an exclusive flock for as long as its download writes it, and swept here once their
// loader is gone.
#pragma once

#include <string>

#include "platform/common/cache_file_name.h"

namespace platform {

// Creates a new copy "ferrovan-cache.RANDOM-name" in folder, with mode 0777 less the umask, and
// holds an exclusive lock on it until fd is closed, so that a sweep leaves it alone. Returns its
// name (no folder) and the open descriptor in fd; empty, with fd -1, when none can be made.
std::string CreateCacheFile(const std::string& folder, const std::string& name, int& fd);

// Removes the copies in ROOT/Temp/ that no live download holds locked.
void RemoveAbandonedCacheFiles();

}  // namespace platform
