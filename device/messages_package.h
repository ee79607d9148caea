// The Compact Framework 3.5 English message package.
#pragma once

#include "loader/loader_context.h"

// Fetches, installs and deletes the package; false when it could not be fetched. Raises when
// storage is short or the installer cannot be started.
bool InstallCfMessagesPackage(LoaderContext* context);
