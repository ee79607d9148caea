// The processes of the emulated device: those of the host whose program file lies inside the
// device root.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct DeviceProcess {
  std::uint32_t processId;
  std::wstring name;         // the program file's name, without folder
  std::wstring programFile;  // its canonical full path
};

// Calls visit for every process of this device until visit returns false. A process that cannot
// be queried (another user's, the system's) is not one of them. False when the process table
// cannot be read.
bool ForEachDeviceProcess(const std::function<bool(const DeviceProcess&)>& visit);

}  // namespace platform
