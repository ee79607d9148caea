// The loader dialog's procedure and the three operations the rest of the loader drives it with.
// SetStatusText, ShowAddressPrompt and CloseLoader may be called from the worker thread.
#pragma once

#include <cstdint>

#include "loader/loader_context.h"

INT_PTR CALLBACK LoaderDialogProc(platform::WindowHandle window, UINT message, WPARAM wParam,
                                  LPARAM lParam);

void SetStatusText(LoaderContext* context, const wchar_t* text);
// Shows (or hides) the edit box, Ok and Cancel; then, when text is not null, puts it in the
// edit box; a shown prompt then takes the focus in the edit box, its text selected.
void ShowAddressPrompt(LoaderContext* context, bool show, const wchar_t* text);
void CloseLoader(LoaderContext* context);
