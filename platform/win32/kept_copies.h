// The Win32 host's kept copies (platform/common/kept_copies.h): hard links in ROOT\Temp beside
// their records.
#pragma once

#include <string>

#include "platform/common/kept_copies.h"
#include "platform/win32/handles.h"

namespace platform {

// Opens url's kept copy (or part) for reading, once its size and digest still match its record,
// which goes to record; no handle when none is kept, or it no longer matches, and then it is
// dropped.
OwnedHandle OpenKeptCopy(const wchar_t* url, KeptRecord& record, Kept kind = Kept::kCopy);

// Keeps the file just placed at hostPath, open in held (with read access), as url's copy (or the
// start of a broken one as its part) with
// the validators of record (its url, size and digest are filled in here, from held, which is
// then closed: the link cannot be made while it is held). Nothing is kept where Temp and the
// file lie on different volumes, or the volume has no hard links; what was kept of url before is
// dropped then. False when closing held failed.
bool KeepCopy(const wchar_t* url, OwnedHandle& held, const std::wstring& hostPath,
              KeptRecord record, Kept kind = Kept::kCopy);

// Removes the new links that a loader killed while keeping a copy left in Temp.
void RemoveAbandonedKeptLinks();

}  // namespace platform
