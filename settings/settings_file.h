// RFConfig.xml: the server address kept between runs.
#pragma once

#include "loader/loader_context.h"

inline constexpr const char* kSettingsFileFormat = "%sRFConfig.xml";

// Fills address (MAX_PATH characters) from the settings file in appDir, or in installDir when
// that one does not load; leaves it untouched when neither loads. A file far larger or deeper
// than the one the loader writes does not load.
void ReadServerAddress(LoaderContext* context, wchar_t* address);
// Writes address into the settings file of appDir (when available) or installDir. Always true.
bool SaveServerAddress(LoaderContext* context, const wchar_t* address);
// Removes what saves of the settings file (in appDir and installDir) left beside it when their
// loader died mid-save; called with the device lock held.
void RemoveAbandonedSettingsReplacements(LoaderContext* context);
