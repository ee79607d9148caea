// The three operations the loader's stages drive the dialog with: the status line, the address
// prompt and the end of the run. Each may be called from the worker thread.
#pragma once

#include "loader/loader_context.h"

void SetStatusText(LoaderContext* context, const wchar_t* text);
// Shows (or hides) the edit box, Ok and Cancel; then, when text is not null, puts it in the
// edit box; a shown prompt then takes the focus in the edit box, its text selected.
void ShowAddressPrompt(LoaderContext* context, bool show, const wchar_t* text);
void CloseLoader(LoaderContext* context);
