// The worker thread that runs the loading sequence.
#pragma once

#include "loader/failure.h"
#include "loader/loader_context.h"

// Starts a detached worker running WorkerMain; false when the thread cannot be created.
bool StartWorker(LoaderContext* context);
unsigned WorkerMain(void* context);
