// The loader's entry and its modal dialog run.
#pragma once

#include <cstdint>

#include "loader/loader_context.h"

// The start-up entry: builds the context, runs the dialog; returns 0 in every case.
int LoaderMain(const wchar_t* commandLine);

// Stores the two lists, parses the command line and runs the dialog until CloseLoader; returns
// the dialog's result (-1 when the template cannot be found).
std::intptr_t RunLoaderDialog(LoaderContext* context, const wchar_t* commandLine,
                              const wchar_t* const* requiredFiles,
                              const wchar_t* const* setupPackages);
