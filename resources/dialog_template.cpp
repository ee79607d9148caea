#include "resources/dialog_template.h"

#include "resources/loader_resources.h"

namespace resources {
namespace {

using platform::ControlKind;
using platform::ControlTemplate;

constexpr bool Visible(std::uint32_t style) {
  return (style & WS_VISIBLE) != 0;
}

constexpr ControlTemplate kLoaderControls[] = {
    {IDC_LOADER_OK, ControlKind::DefaultPushButton, L"" LOADER_OK_TEXT, LOADER_OK_STYLE,
     LOADER_OK_RECT, Visible(LOADER_OK_STYLE)},
    {IDC_LOADER_CANCEL, ControlKind::PushButton, L"" LOADER_CANCEL_TEXT, LOADER_CANCEL_STYLE,
     LOADER_CANCEL_RECT, Visible(LOADER_CANCEL_STYLE)},
    {IDC_LOADER_URL, ControlKind::Edit, L"" LOADER_URL_TEXT, LOADER_URL_STYLE, LOADER_URL_RECT,
     Visible(LOADER_URL_STYLE)},
    {IDC_LOADER_STATUS, ControlKind::Static, L"" LOADER_STATUS_TEXT, LOADER_STATUS_STYLE,
     LOADER_STATUS_RECT, Visible(LOADER_STATUS_STYLE)},
};

constexpr platform::DialogTemplate kLoaderDialog = {
    LOADER_DIALOG_STYLE,     LOADER_DIALOG_RECT, L"" LOADER_DIALOG_FONT,
    LOADER_DIALOG_FONT_SIZE, kLoaderControls,    IDD_LOADER,
};

}  // namespace

const platform::DialogTemplate* FindDialogTemplate(int resourceId) {
  return resourceId == kLoaderDialogId ? &kLoaderDialog : nullptr;
}

}  // namespace resources
