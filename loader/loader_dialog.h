// The loader dialog's procedure: it starts the worker, and the worker again once the user has
// given an address. The stages drive the dialog through loader/status_line.h.
#pragma once

#include <cstdint>

#include "loader/loader_context.h"

INT_PTR CALLBACK LoaderDialogProc(platform::WindowHandle window, UINT message, WPARAM wParam,
                                  LPARAM lParam);
