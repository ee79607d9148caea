// Stopping the client and emptying the install folder.
#pragma once

#include "loader/loader_context.h"

inline constexpr const wchar_t* kSettingsFileName = L"RFConfig.xml";

void StopRunningClient(LoaderContext* context);
// Deletes every file of installDir but the loader's and the settings file. Always true.
bool ClearInstallFolder(LoaderContext* context);
