// Moving a file that the caller holds open, so that the file that takes the new name is the one
// the caller wrote and checked, whatever another program tried in between.
#pragma once

#include <string>

#include "platform/windows_types.h"

namespace platform {

// Moves the file open in held (with DELETE access and read access, shared for reading at most)
// to the host path to; with replace, over what stands there, a link included, which is replaced
// and never written through; without, the move fails when to exists. Within a volume it is a
// rename of the held file; between volumes its bytes are read through held into a new file
// beside to, held the same way, flushed and renamed, and then the held file is removed. False
// when it could not be moved; what stood at to is then as it was.
bool MoveHeldFile(HANDLE held, const std::wstring& to, bool replace);

}  // namespace platform
