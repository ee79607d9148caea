// Processes of the device: starting a program (ShellExecuteEx), waiting for it
// (WaitForSingleObject), the process table (CreateToolhelp32Snapshot and its walk) and
// stopping a process (OpenProcess, TerminateProcess).
#pragma once

#include <cstdint>
#include <span>

#include "platform/service.h"
#include "platform/text.h"

namespace platform {

struct ProcessEntry {
  std::uint32_t processId;
  wchar_t exeFile[MAX_PATH];  // the program file's name, without folder
};

class ProcessService {
 public:
  virtual ~ProcessService() = default;
  // Starts the program at the device path file with the parameter text split as a Windows
  // command line, the device root as working folder. When wait is true, returns only after the
  // program has ended. False when the program could not be started.
  virtual bool Start(const wchar_t* file, const wchar_t* parameters, bool wait) = 0;
  // Fills entries with the running processes; writes their number to count (at most
  // entries.size()). False when no snapshot can be taken.
  virtual bool Snapshot(std::span<ProcessEntry> entries, std::size_t& count) = 0;
  // OpenProcess and TerminateProcess in one: false when the process cannot be opened (gone, or
  // not ours to signal) or not be stopped. Does not wait for it to end.
  virtual bool Terminate(std::uint32_t processId) = 0;
};

inline ProcessService& Processes() {
  return Use<ProcessService>();
}

}  // namespace platform
