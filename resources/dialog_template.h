// The program's resources: the loader dialog's template.
#pragma once

#include "platform/dialog.h"

namespace resources {

// Window styles of the device, as the template records them.
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t DS_SETFONT = 0x0040;
inline constexpr std::uint32_t DS_FIXEDSYS = 0x0008;
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0000;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x0001;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080;

inline constexpr int LOADER_DIALOG_ID = 102;
inline constexpr int LOADER_ICON_ID = 101;

// FindResourceW and LoadResource in one: the dialog template with that id, or null.
const platform::DialogTemplate* FindDialogTemplate(int resourceId);

}  // namespace resources
