#include "loader/status_line.h"

void SetStatusText(LoaderContext* context, const wchar_t* text) {
  platform::Dialogs().SetText(context->statusLabel, text);
}

void ShowAddressPrompt(LoaderContext* context, bool show, const wchar_t* text) {
  platform::DialogFrontEnd& dialogs = platform::Dialogs();
  dialogs.Show(context->urlEdit, show);
  dialogs.Show(context->okButton, show);
  dialogs.Show(context->cancelButton, show);
  if (text != nullptr) {
    dialogs.SetText(context->urlEdit, text);
  }
  // The prompt is there to be typed into, over the address it holds.
  if (show) {
    dialogs.Focus(context->urlEdit);
  }
}

void CloseLoader(LoaderContext* context) {
  platform::Dialogs().EndDialog(context->dialog, 0);
}
