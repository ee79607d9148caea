// The device folders that the loader creates, writes, clears or sweeps, and whether one of them
// leads out of the device.
#pragma once

#include "loader/loader_context.h"

// The status text for such a folder, followed by the folder's device path.
inline constexpr const wchar_t* kLinkedFolderText = L"A device folder is a link:\r\n";

// Whether one of those folders, or one on the way to it, is reached through a link; true with
// the first such folder from the top, as a device path ("\Temp"), in folder.
bool FindLinkedDeviceFolder(const LoaderContext* context, wchar_t (&folder)[MAX_PATH]);
