// The processes of the emulated device: those of the host that run from a program file inside
// the device root. Shared by the process table and by file deletion, which refuses the file of a
// running program as a device does.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct DeviceProcess {
  std::uint32_t processId;
  std::string name;         // the program file's name: the executable's, or a script's own
  std::string programFile;  // canonical host path of that file
  dev_t fileDevice;         // identity of the file, which outlives a rename of it
  ino_t fileInode;
};

// Calls visit for every process of this device until visit returns false. A process whose
// program file cannot be read (another user's) is not one of them. False when the host's
// process list cannot be read.
bool ForEachDeviceProcess(const std::function<bool(const DeviceProcess&)>& visit);

// True when hostPath names (not through a symbolic link) a file that a process of this device
// runs as its program.
bool IsRunningProgramFile(const std::string& hostPath);

}  // namespace platform
