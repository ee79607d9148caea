// Keeping the client's files in the install folder.
#pragma once

#include <cstdint>

#include "download/progress_callback.h"
#include "loader/loader_context.h"

// True when strictly more than requiredMegabytes whole megabytes (of 1048576 bytes) are
// available to the install folder; a failed query counts as too little.
bool HasFreeSpace(LoaderContext* context, std::uint64_t requiredMegabytes);
// True when every required file is in installDir; otherwise clears the folder, false.
bool CheckRequiredFiles(LoaderContext* context);
// Why DownloadFile did not put a file in place: it could not be fetched (or stored), or, in a
// loader with release keys, its signature did not hold.
enum class DownloadFailure { NotFetched, NotVerified };

// Fetches remoteName into installDir under localName (or remoteName when null). With release
// keys built in, the file is put in place only once its signature holds. On failure, the reason
// goes to failure when given.
bool DownloadFile(LoaderContext* context, const wchar_t* remoteName,
                  DownloadProgressCallback* progress, const wchar_t* localName,
                  DownloadFailure* failure = nullptr);
// statusMessage becomes first followed by as much of name (when given) as fits.
void SetStatusMessage(LoaderContext* context, const wchar_t* first, const wchar_t* name);
// Fetches every required file; false with the reason in statusMessage. Raises when storage is
// short.
bool DownloadRequiredFiles(LoaderContext* context);
