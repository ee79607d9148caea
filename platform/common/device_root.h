// What each host's device-root code gives the parts that every host shares (the order in which
// the root is chosen, the device's own folders, the root state). Host paths are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// folder made absolute the host's way.
std::string AbsoluteHostFolder(std::string_view folder);
// The value of an environment variable; empty when it is unset or empty.
std::string EnvironmentText(const char* name);
// X when programPath stands in X/Program Files/FerroVanMobile/ (names compared as the host's file
// system compares them); empty otherwise.
std::string FolderAroundInstallFolder(const std::string& programPath);
// Where the device lives when nothing names it (the user's own data folder).
std::string DefaultDeviceRootFolder();
// Whether an absolute folder is the top of a volume (a drive, a share, a mount point, the host's
// top folder) or one of the system's own folders, which must never hold an emulated device.
bool IsVolumeOrSystemFolder(const std::string& folder);
// Creates folder and the folders above it; true when it is a folder then.
bool MakeFolderTree(const std::string& folder);
// Creates one folder; whether it could is not examined.
void MakeFolder(const std::string& folder);

}  // namespace platform
