#include "resources/dialog_template.h"

namespace resources {
namespace {

using platform::ControlKind;
using platform::ControlTemplate;

constexpr ControlTemplate kLoaderControls[] = {
    {1001, ControlKind::DefaultPushButton, L"Ok", WS_CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 7, 94,
     50, 14, false},
    {1002, ControlKind::PushButton, L"Cancel", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 99, 94, 50,
     14, false},
    {1003, ControlKind::Edit, L"", WS_CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 74, 142,
     14, false},
    {1004, ControlKind::Static, L"Ferro Van Loader", WS_CHILD | WS_VISIBLE | WS_GROUP, 7, 38, 142,
     28, true},
};

constexpr platform::DialogTemplate kLoaderDialog = {
    WS_POPUP | WS_BORDER | DS_SETFONT | DS_FIXEDSYS,
    0,
    0,
    156,
    177,
    L"MS Shell Dlg",
    8,
    kLoaderControls,
};

}  // namespace

const platform::DialogTemplate* FindDialogTemplate(int resourceId) {
  return resourceId == LOADER_DIALOG_ID ? &kLoaderDialog : nullptr;
}

}  // namespace resources
