// The Windows types, constants and interfaces that the loader names (HRESULT, MAX_PATH, the
// window messages and styles, IBindStatusCallback). A Windows build takes the system's own; other
// hosts get stand-ins with the same names, values and slot order. This is the one place where the
// host decides, as the platform layer's entry header.
#pragma once

#if defined(_WIN32)
#include "platform/win32/windows_types.h"
#else
#include "platform/linux/windows_types.h"
#endif
