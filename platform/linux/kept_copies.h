// The Linux host's kept copies (platform/common/kept_copies.h): hard links in ROOT/Temp beside
// their records.
#pragma once

#include <string>

#include "platform/common/kept_copies.h"

namespace platform {

// Opens url's kept copy (or part) for reading, once its size and digest still match its record,
// which goes to record; -1 when none is kept, or it no longer matches, and then it is dropped.
int OpenKeptCopy(const wchar_t* url, KeptRecord& record, Kept kind = Kept::kCopy);

// Keeps the file just placed, open in fd, as url's copy with the validators of record (its url,
// size and digest are filled in here), or the start of a broken one as its part. Nothing is kept
// where Temp and the file lie on different file systems, or the file system has no hard links;
// what was kept of url before is dropped then.
void KeepCopy(const wchar_t* url, int fd, KeptRecord record, Kept kind = Kept::kCopy);

// Removes the new links and records' new files that a loader killed while keeping a copy left in
// Temp.
void RemoveAbandonedKeptLinks();

}  // namespace platform
