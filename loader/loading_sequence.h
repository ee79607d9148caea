// The loader's plan of work, run once per worker.
#pragma once

#include "loader/loader_context.h"

// True when the run has handed the device to a program it started (the client or the newest
// loader) and closed the loader; false when it ended in the address prompt.
bool RunLoadingSequence(LoaderContext* context);
// Runs every package of setupPackages (already in installDir) through the CAB installer.
void InstallSetupPackages(LoaderContext* context);
