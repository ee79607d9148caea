// The system's own definitions. The services name some operations as Windows does (DeleteFile,
// MoveFile, MessageBox); the system headers make those names macros for their W and A forms,
// which would rename the services' methods, so the macros are dropped here and the
// implementations call the W forms by their full names. ReplaceFile (the small-file service's)
// is one too.
#pragma once

#include <urlmon.h>
#include <windows.h>

#undef DeleteFile
#undef MoveFile
#undef MessageBox
#undef ReplaceFile

namespace platform {

using WindowHandle = HWND;
using DialogProc = DLGPROC;

}  // namespace platform
