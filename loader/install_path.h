// A file of the install folder by name.
#pragma once

#include <span>

#include "loader/loader_context.h"

// installDir followed by name; false, with path empty, when it does not fit, so that a cut path
// is never handed on.
bool BuildInstallPath(const LoaderContext* context, const wchar_t* name, std::span<wchar_t> path);
