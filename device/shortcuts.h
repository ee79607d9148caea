// The shortcuts that start the loader.
#pragma once

#include "loader/loader_context.h"

void CreateShortcuts(LoaderContext* context);
