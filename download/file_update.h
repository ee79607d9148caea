// Keeping the client's files in the install folder.
#pragma once

#include <cstdint>

#include "download/checked_download.h"
#include "download/progress_callback.h"
#include "loader/loader_context.h"

// True when strictly more than requiredMegabytes whole megabytes (of 1048576 bytes) are
// available to the install folder; a failed query counts as too little.
bool HasFreeSpace(LoaderContext* context, std::uint64_t requiredMegabytes);
// True when every required file is in installDir; otherwise clears the folder, false.
bool CheckRequiredFiles(LoaderContext* context);
// Fetches every required file; false with the reason in statusMessage. Raises when storage is
// short.
bool DownloadRequiredFiles(LoaderContext* context);
