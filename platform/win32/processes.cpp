#include "platform/windows_types.h"

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "platform/device_root.h"
#include "platform/processes.h"
#include "platform/win32/device_processes.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr DWORD kTerminateWaitMilliseconds = 2000;

// The loader's standard handles, once each, made inheritable; none when it has none (a
// program started without a console or redirection).
std::vector<HANDLE> StandardHandles() {
  std::vector<HANDLE> handles;
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
      continue;
    }
    bool seen = false;
    for (const HANDLE other : handles) {
      seen = seen || other == handle;
    }
    if (!seen && SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
      handles.push_back(handle);
    }
  }
  return handles;
}

// Lets a started program inherit exactly the given handles and no other handle of the loader.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    if (handles_.empty()) {
      return;
    }
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      return;
    }
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      DeleteProcThreadAttributeList(list);
      return;
    }
    list_ = list;
  }
  ~InheritedHandles() {
    if (list_ != nullptr) {
      DeleteProcThreadAttributeList(list_);
    }
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  // Ready only when the list could be made: without it every inheritable handle would go along.
  bool Ready() const { return list_ != nullptr; }
  LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

 private:
  std::vector<HANDLE> handles_;  // the list points into it
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

class Win32Processes final : public ProcessService {
 public:
  // The program inherits the loader's environment, where main has set the device root and the
  // front end, and its standard handles, so that a newest loader started on the console or a
  // pipe reports where this one does. That is why this is CreateProcessW and not the shell's
  // start, which hands on no handles. The parameter text follows the quoted program path as
  // the program's command line, unsplit.
  bool Start(const wchar_t* file, const wchar_t* parameters, bool wait) override {
    if (file == nullptr) {
      return false;
    }
    const std::wstring program = WideHostPath(file);
    const std::wstring folder = Utf8ToWide(DeviceRoot());
    std::wstring commandLine = L"\"" + program + L"\"";
    if (parameters != nullptr && *parameters != L'\0') {
      commandLine += L' ';
      commandLine += parameters;
    }

    const InheritedHandles inherited(StandardHandles());
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_SHOW;
    // A console program started by a loader that has no console (the GUI loader, started from a
    // shortcut or with pipes) would get a console window of its own; it writes to the handles it
    // is given instead, as the loader does. With a console, it shares the loader's.
    DWORD consoleProcess = 0;
    DWORD flags = GetConsoleProcessList(&consoleProcess, 1) == 0 ? DETACHED_PROCESS : 0;
    if (inherited.Ready()) {
      startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
      startup.StartupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.StartupInfo.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
      startup.StartupInfo.hStdError = GetStdHandle(STD_ERROR_HANDLE);
      startup.lpAttributeList = inherited.List();
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                        inherited.Ready() ? TRUE : FALSE, flags, nullptr, folder.c_str(),
                        &startup.StartupInfo, &started)) {
      return false;
    }
    CloseHandle(started.hThread);
    if (wait) {
      WaitForSingleObject(started.hProcess, INFINITE);
    }
    CloseHandle(started.hProcess);
    return true;
  }

  // Only the programs running from files of this device: stopping the client on one device
  // must never stop another device's client on the same host.
  std::unique_ptr<ProcessSnapshot> TakeSnapshot() override {
    auto snapshot = std::make_unique<ProcessSnapshot>();
    const bool listed = ForEachDeviceProcess([&](const DeviceProcess& process) {
      snapshot->Add(process.processId, process.name.c_str());
      return true;
    });
    return listed ? std::move(snapshot) : nullptr;
  }

  // Termination completes a moment after TerminateProcess returns; until then the program file
  // is still in use and cannot be deleted, so the clearing that follows a stop would leave it in
  // place: wait, a bounded time, for the process to be gone.
  bool Terminate(std::uint32_t processId) override {
    if (processId == 0) {
      return false;
    }
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
      return false;
    }
    const bool stopped = TerminateProcess(process, 0) != FALSE;
    if (stopped) {
      WaitForSingleObject(process, kTerminateWaitMilliseconds);
    }
    CloseHandle(process);
    return stopped;
  }
};

}  // namespace

template <>
ProcessService& HostService<ProcessService>() {
  static Win32Processes service;
  return service;
}

}  // namespace platform
