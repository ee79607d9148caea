// The failure text that a run shows with the address prompt.
#pragma once

#include "loader/loader_context.h"

// statusMessage becomes first followed by as much of name (when given) as fits.
void SetStatusMessage(LoaderContext* context, const wchar_t* first, const wchar_t* name);
