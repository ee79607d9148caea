// The program's resources: the loader dialog's template.
#pragma once

#include "platform/dialog.h"

namespace resources {

inline constexpr int LOADER_DIALOG_ID = 102;
inline constexpr int LOADER_ICON_ID = 101;

// FindResourceW and LoadResource in one: the dialog template with that id, or null.
const platform::DialogTemplate* FindDialogTemplate(int resourceId);

}  // namespace resources
