// The download copies in the device's Temp folder, as on the Linux host: a download's file is
// kept there under a new name until the loader moves it into place, and what a killed loader
// left there is swept away by the next loader on the device.
#pragma once

#include <string>
#include <string_view>

#include "platform/windows_types.h"

namespace platform {

// Every such file is named so, followed by a random part, "-" and the name of what it holds.
inline constexpr wchar_t kCacheFilePrefix[] = L"ferrovan-cache.";

// Creates a new, empty download file in ROOT\Temp for the file name (made safe for a file
// name) and returns its device path ("Temp\ferrovan-cache.RANDOM-name"); empty when none can be
// made.
std::wstring CreateCacheFile(std::wstring_view name);

// Removes the copies in ROOT\Temp that no download holds open. Call it once the device lock is
// held, right after taking it.
void RemoveAbandonedCacheFiles();

}  // namespace platform
