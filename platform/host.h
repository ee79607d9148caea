// What a host provides: the whole list. A host is a folder of platform/ (linux/, win32/) that
// defines every item below in the file named beside it, and the file names are the same in
// every host folder. What all hosts share is written once in common/, on top of these items;
// the loader's logic sees only the service headers (platform/*.h). A new host defines this list
// and adds its folder in platform/CMakeLists.txt; the Windows types it needs come from its
// windows_types.h (the system's own, or stand-ins with the same names and values).
//
// Host paths are UTF-8 here, whatever a host's own calls take.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace platform {

class ClockService;
class ComService;
class DeviceLockService;
class DialogFrontEnd;
class DownloadService;
class FileService;
class HeldDeviceLock;
class ProcessService;
class ShellService;
class SmallFileService;
class SystemInfoService;
class ThreadService;

// The one implementation of each service on this host (Use<Service>() reaches it). The services'
// headers say what each does.
template <class Service>
Service& HostService();

template <>
ClockService& HostService<ClockService>();  // clock.cpp
template <>
ComService& HostService<ComService>();  // com.cpp
template <>
DownloadService& HostService<DownloadService>();  // download.cpp
template <>
FileService& HostService<FileService>();  // files.cpp
template <>
ProcessService& HostService<ProcessService>();  // processes.cpp
template <>
ShellService& HostService<ShellService>();  // shell.cpp
template <>
ThreadService& HostService<ThreadService>();  // threads.cpp

// Written once, in common/, from the items below.
template <>
DeviceLockService& HostService<DeviceLockService>();  // common/device_lock.cpp
template <>
DialogFrontEnd& HostService<DialogFrontEnd>();  // common/front_end.cpp
template <>
SmallFileService& HostService<SmallFileService>();  // common/small_files.cpp
template <>
SystemInfoService& HostService<SystemInfoService>();  // common/system_info.cpp

// console/console_front_end.cpp: the console front end on the process's standard streams.
DialogFrontEnd& ConsoleFrontEnd();

// window/window_front_end.cpp: whether this build has the window front end, and opening it;
// null when no window can be opened (no display, or not built).
bool WindowFrontEndBuilt();
DialogFrontEnd* OpenWindowFrontEnd();

// device_lock.cpp: the device's lock, taken at once or, with wait, once the loader that holds
// it has let go. Null when it cannot be had; heldElsewhere then tells whether another loader
// holds it (as against no lock at all: no device root, a file system without locks).
std::unique_ptr<HeldDeviceLock> LockDevice(bool wait, bool& heldElsewhere);
// Whether the device's lock is held by the process that started this one: the lock file names
// its holder, which LockDevice records.
bool DeviceLockHeldByParent();

// device_root.cpp: the host's side of the device root (common/device_root.cpp chooses it).
// folder made absolute the host's way.
std::string AbsoluteHostFolder(std::string_view folder);
// The value of an environment variable; empty when it is unset or empty.
std::string EnvironmentText(const char* name);
// X when programPath stands in X/Program Files/FerroVanMobile/ (names compared as the host's file
// system compares them); empty otherwise.
std::string FolderAroundInstallFolder(const std::string& programPath);
// Where the device lives when nothing names it (the user's own data folder).
std::string DefaultDeviceRootFolder();
// Whether an absolute folder is one that must never hold an emulated device, even when the user
// names it: the host's top folder (Linux: /; Windows: a drive's or a share's top), the system's
// own folders, the home folder.
bool IsSystemFolder(const std::string& folder);
// Whether an absolute folder is the top of a volume mounted on a folder (a mount point; a mounted
// folder on Windows). Passed over when the root is derived from the program's place; a user may
// name one.
bool IsMountedVolumeTop(const std::string& folder);
// Creates folder and the folders above it; true when it is a folder then. The folder itself, when
// made here, is open to its owner alone (Linux: mode 0700).
bool MakeFolderTree(const std::string& folder);
// Creates one folder; whether it could is not examined.
void MakeFolder(const std::string& folder);
// The separator of the host's paths, into which device paths are mapped.
char HostPathSeparator();

// small_files.cpp: reading and storing whole small files by host path.
// At most limit bytes from the start of a regular file, into bytes; false when it cannot be
// opened or read or is no regular file. Never waits on a pipe or device planted there.
bool ReadFileStart(const std::string& hostPath, std::size_t limit, std::string& bytes);
// Replaces whatever stands at hostPath (a file, or a link, which is replaced and never written
// through) with a file holding content, so that a crash or a power cut at any moment leaves the
// old file or the whole new one.
bool ReplaceFileContent(const std::string& hostPath, std::string_view content);
// Removes the new files that ReplaceFileContent(hostPath) left when its process died before the
// move; one that a live process is still writing stays.
void RemoveAbandonedReplacementsOf(const std::string& hostPath);

// text.cpp: the conversions of platform/text.h that depend on the host's narrow text, and
// UTF-8 of any length for the platform's own use.
bool WideToNarrow(std::span<char> out, const wchar_t* text);
bool NarrowToWide(std::span<wchar_t> out, const char* text);
// The narrow text (the device's ANSI code page) read as wide text.
std::wstring WidenNarrowText(std::string_view text);
// Code points that UTF-8 cannot carry (lone surrogates) become '?'.
std::string WideToUtf8(std::wstring_view text);
// Each malformed sequence becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

}  // namespace platform
