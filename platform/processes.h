// Processes of the device: starting a program (ShellExecuteEx), waiting for it
// (WaitForSingleObject), the process table (CreateToolhelp32Snapshot and its walk) and
// stopping a process (OpenProcess, TerminateProcess).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/service.h"
#include "platform/text.h"

namespace platform {

struct ProcessEntry {
  std::uint32_t processId;
  wchar_t exeFile[MAX_PATH];  // the program file's name, without folder
};

// One snapshot of the process table, walked entry by entry (Process32First / Process32Next).
class ProcessSnapshot {
 public:
  ProcessSnapshot() = default;
  explicit ProcessSnapshot(std::vector<ProcessEntry> entries) : entries_(std::move(entries)) {}
  // Adds a process while the snapshot is taken; one whose name does not fit is left out.
  void Add(std::uint32_t processId, const wchar_t* exeFile) {
    ProcessEntry entry{};
    entry.processId = processId;
    if (CopyText(entry.exeFile, exeFile)) {
      entries_.push_back(entry);
    }
  }
  // Copies the next entry; false after the last.
  bool Next(ProcessEntry& entry) {
    if (next_ == entries_.size()) {
      return false;
    }
    entry = entries_[next_++];
    return true;
  }

 private:
  std::vector<ProcessEntry> entries_;
  std::size_t next_ = 0;
};

class ProcessService {
 public:
  virtual ~ProcessService() = default;
  // Starts the program at the device path file with the parameter text split as a Windows
  // command line, the device root as working folder. When wait is true, returns only after the
  // program has ended. False when the program could not be started.
  virtual bool Start(const wchar_t* file, const wchar_t* parameters, bool wait) = 0;
  // The running processes; null when no snapshot can be taken.
  virtual std::unique_ptr<ProcessSnapshot> TakeSnapshot() = 0;
  // OpenProcess and TerminateProcess in one: false when the process cannot be opened (gone, or
  // not ours to signal) or not be stopped. Waits a short, bounded time for it to end, so that its
  // program file is free when this returns.
  virtual bool Terminate(std::uint32_t processId) = 0;
};

inline ProcessService& Processes() {
  return Use<ProcessService>();
}

}  // namespace platform
