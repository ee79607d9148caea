#include "loader/loader_dialog.h"

#include "device/device_folders.h"
#include "loader/status_line.h"
#include "loader/worker.h"
#include "settings/settings_file.h"

namespace {

void StartWorkerOrClose(LoaderContext* context) {
  if (!StartWorker(context)) {
    CloseLoader(context);
  }
}

void InitDialog(platform::WindowHandle window, LoaderContext* context) {
  platform::DialogFrontEnd& dialogs = platform::Dialogs();
  dialogs.SetUserData(window, reinterpret_cast<std::intptr_t>(context));
  context->dialog = window;
  context->statusLabel = dialogs.GetItem(context->dialog, context->statusLabelId);
  context->urlEdit = dialogs.GetItem(context->dialog, context->urlEditId);
  context->okButton = dialogs.GetItem(context->dialog, context->okButtonId);
  context->cancelButton = dialogs.GetItem(context->dialog, context->cancelButtonId);
  // The controls keep their template places; only the dialog itself fills the screen.
  dialogs.Move(context->dialog, 0, 0, dialogs.GetSystemMetrics(SM_CXSCREEN),
               dialogs.GetSystemMetrics(SM_CYSCREEN), false);
  SetStatusText(context, L"Quillmar RF Loader");
  StartWorkerOrClose(context);
}

// Runs on the main thread while the prompt is shown, so no worker touches the context.
void AcceptAddress(LoaderContext* context) {
  ShowAddressPrompt(context, false, nullptr);
  platform::Dialogs().GetText(context->urlEdit, context->serverAddress);
  // Never through a link out of the device: the run that follows reports the folder again, and
  // an Ok once it is mended saves the address.
  if (wchar_t linked[MAX_PATH]; !FindLinkedDeviceFolder(context, linked)) {
    SaveServerAddress(context, context->serverAddress);
  }
  StartWorkerOrClose(context);
}

}  // namespace

INT_PTR CALLBACK LoaderDialogProc(platform::WindowHandle window, UINT message, WPARAM wParam,
                                  LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    InitDialog(window, reinterpret_cast<LoaderContext*>(lParam));
    return TRUE;
  }
  if (message == WM_COMMAND) {
    auto* context = reinterpret_cast<LoaderContext*>(platform::Dialogs().GetUserData(window));
    if (context == nullptr) {
      return FALSE;
    }
    const int controlId = static_cast<int>(wParam & 0xFFFF);
    // The buttons act only while the prompt shows, which is only once the worker has finished:
    // a hidden Ok still gets the dialog manager's Enter, and acting on it would save the address
    // and start a second worker beside the one at work.
    platform::DialogFrontEnd& dialogs = platform::Dialogs();
    if (controlId == context->okButtonId && dialogs.IsVisible(context->okButton)) {
      AcceptAddress(context);
    } else if (controlId == context->cancelButtonId && dialogs.IsVisible(context->cancelButton)) {
      CloseLoader(context);
    }
    return FALSE;
  }
  return FALSE;
}
