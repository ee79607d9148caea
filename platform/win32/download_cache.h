// The download copies in the device's Temp folder: made here, each held open (which keeps the
// system from deleting it) for as long as its download writes it, and swept here once their
// loader is gone.
#pragma once

#include <string>

#include "platform/common/cache_file_name.h"
#include "platform/win32/handles.h"

namespace platform {

// Creates a new, empty copy "Temp\ferrovan-cache.RANDOM-NAME" for url, open in file from its
// creation on (for reading, writing and deletion, shared for reading only: no other program
// writes, moves or deletes it while it is held), and returns its device path; empty when none
// can be made.
std::wstring CreateCacheFile(const wchar_t* url, OwnedHandle& file);

// Removes the copies in ROOT\Temp that no download holds open.
void RemoveAbandonedCacheFiles();

}  // namespace platform
