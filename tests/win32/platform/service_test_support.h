// Helpers shared by the Win32 service tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"

namespace service_tests {

// Sets an environment variable for the life of this object and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t old[4096];
    const DWORD length = GetEnvironmentVariableW(name, old, 4096);
    had_ = length > 0 && length < 4096;
    if (had_) {
      old_.assign(old, length);
    }
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
  std::wstring old_;
  bool had_ = false;
};

inline std::wstring Wide(const std::string& utf8) {
  return platform::Utf8ToWide(utf8);
}

inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool WriteBytes(const std::wstring& path, const std::string& content) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
      written == content.size();
  CloseHandle(file);
  return ok;
}

inline std::string ReadBytes(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  std::string content;
  if (file == INVALID_HANDLE_VALUE) {
    return content;
  }
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    content.append(buffer, got);
  }
  CloseHandle(file);
  return content;
}

}  // namespace service_tests

namespace service_tests {

// The test helper program, which the build puts beside every test program.
inline std::wstring HelperProgram() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"service_helper.exe";
}

// A helper started directly (not through the service under test), with its handle.
class HelperProcess {
 public:
  explicit HelperProcess(const std::wstring& arguments)
      : HelperProcess(HelperProgram(), arguments) {}
  HelperProcess(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &started)) {
      CloseHandle(started.hThread);
      process_ = started.hProcess;
    }
  }
  ~HelperProcess() {
    if (process_ != nullptr) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
      CloseHandle(process_);
    }
  }
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  std::uint32_t id() const { return process_ != nullptr ? GetProcessId(process_) : 0; }
  // True when the process ended within the bound.
  bool WaitForEnd(DWORD milliseconds = 20000) const {
    return WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
  }

 private:
  HANDLE process_ = nullptr;
};

}  // namespace service_tests
