// The loader's plan of work, run once per worker.
#pragma once

#include "loader/loader_context.h"

void RunLoadingSequence(LoaderContext* context);
// Runs every package of setupPackages (already in installDir) through the CAB installer.
void InstallSetupPackages(LoaderContext* context);
