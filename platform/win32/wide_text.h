// Wide text and host paths inside the Win32 services. The device-root functions keep host paths
// as UTF-8; the Win32 calls take UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/host.h"

namespace platform {

// A length for the Win32 text calls, which count in int.
int Win32Length(std::size_t size);
// text in the given code page (CP_UTF8, CP_ACP) as UTF-16.
std::wstring WidenFromCodePage(unsigned codePage, std::string_view text);

// The host path of a device path, for the W calls. A path that is already a Windows path
// (a drive letter, or \\ in front), such as the internet cache's copy of a download, is taken as
// it is: device paths never have either.
std::wstring WideHostPath(std::wstring_view devicePath);

}  // namespace platform
