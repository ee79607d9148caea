// The program's resources: the loader dialog's template, as the front ends take it.
#pragma once

#include "platform/dialog.h"
#include "resources/loader_resources.h"

namespace resources {

inline constexpr int kLoaderDialogId = IDD_LOADER;
inline constexpr int kLoaderIconId = IDI_LOADER;

// FindResourceW and LoadResource in one: the dialog template with that id, or null.
const platform::DialogTemplate* FindDialogTemplate(int resourceId);

}  // namespace resources
