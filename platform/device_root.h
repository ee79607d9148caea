// The emulated device lives in a folder of the host, the device root. Device paths
// ("Program Files\FerroVanMobile\x.dll", "\Windows\WCELOAD.EXE") map into it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// The root to use, made absolute, in root: optionValue (from --device-root) when given; else
// $FERROVAN_DEVICE_ROOT; else X when programPath stands in X/Program Files/FerroVanMobile/;
// else the user's data folder (Linux: $XDG_DATA_HOME/ferrovan/device, or
// ~/.local/share/ferrovan/device; Windows: %LOCALAPPDATA%\ferrovan\device). The host's top
// folder or a system folder is never a device root: as the program's place it is passed over;
// named by the option or the variable, it is refused (false, with the folder in root). A mounted
// volume's top is passed over as the program's place and taken when named.
bool ChooseDeviceRoot(const char* optionValue, const std::string& programPath, std::string& root);
// The same, with the program's path asked of programPath only when nothing names the root: finding
// it may cost a look-up that a named root spares.
bool ChooseDeviceRoot(const char* optionValue, const std::function<std::string()>& programPath,
                      std::string& root);

// Sets the root (made absolute). Called once at start-up, before any thread exists.
void SetDeviceRoot(std::string_view hostFolder);
const std::string& DeviceRoot();

// Drops a leading backslash, turns every backslash into a slash and joins the result to the
// root. A device path of "" maps to the root itself.
std::string ToHostPath(std::wstring_view devicePath);
std::string ToHostPath(std::string_view devicePath);

// Creates the root and the folders every device has (Windows, Windows/Desktop,
// Windows/Programs, Windows/Start Menu/Programs, Program Files, Temp) when missing.
// Not Application: whether it exists tells where the settings file may live. False when the
// root itself cannot be made.
bool CreateSystemFolders();

}  // namespace platform
