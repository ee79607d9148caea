// The program's resources: the loader dialog's template, as the front ends take it.
#pragma once

#include "platform/dialog.h"
#include "resources/loader_resources.h"

namespace resources {

inline constexpr int LOADER_DIALOG_ID = IDD_LOADER;
inline constexpr int LOADER_ICON_ID = IDI_LOADER;

// FindResourceW and LoadResource in one: the dialog template with that id, or null.
const platform::DialogTemplate* FindDialogTemplate(int resourceId);

}  // namespace resources
