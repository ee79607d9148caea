// The shortcuts that start the loader.
#pragma once

#include "loader/loader_context.h"

// Creates the shortcuts of a complete installation and removes the Start menu's older ones.
void CreateShortcuts(LoaderContext* context);

// Creates those of the shortcuts of a complete installation that are missing (lost, say, to a
// power cut during the installation's last steps), leaving the rest as they are.
void RestoreMissingShortcuts(LoaderContext* context);

// Removes what writes of the shortcuts left beside them when their loader died mid-write;
// called with the device lock held.
void RemoveAbandonedShortcutReplacements(LoaderContext* context);
