// The device root on Windows. Host paths are kept as UTF-8 and carry backslashes.
// The system header below needs windows.h before it.
#include "platform/windows_types.h"

#include <shlobj.h>

#include <vector>

#include "platform/common/device_root.h"
#include "platform/device_root.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Whether the path is the top of a drive ("C:\") or of a share, where the final backslash must
// stay.
bool IsTopFolder(const std::wstring& path) {
  if (path.size() == 3 && path[1] == L':') {
    return true;
  }
  if (!path.starts_with(L"\\\\")) {
    return false;
  }
  // "\\server\share\": the backslash after the share is the fourth one.
  std::size_t separators = 0;
  for (wchar_t c : path) {
    separators += c == L'\\' ? 1 : 0;
  }
  return separators <= 4 && path.back() == L'\\';
}

std::wstring MakeAbsolute(std::wstring given) {
  // An empty text names the current folder, never the top of a drive.
  if (given.empty()) {
    given = L".";
  }
  std::wstring path = given;
  const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (needed > 0) {
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
    if (written > 0 && written < needed) {
      full.resize(written);
      path = std::move(full);
    }
  }
  while (path.size() > 1 && IsSeparator(path.back()) && !IsTopFolder(path)) {
    path.pop_back();
  }
  return path;
}

// An empty variable counts as unset.
std::wstring Variable(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed <= 1) {
    return {};
  }
  std::wstring value(needed, L'\0');
  const DWORD written = GetEnvironmentVariableW(name, value.data(), needed);
  value.resize(written < needed ? written : 0);
  return value;
}

std::wstring LocalAppData() {
  std::wstring folder = Variable(L"LOCALAPPDATA");
  if (!folder.empty()) {
    return folder;
  }
  PWSTR known = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) {
    folder = known;
  }
  CoTaskMemFree(known);
  return folder.empty() ? std::wstring(L".") : folder;
}

std::wstring_view LastComponent(std::wstring_view path) {
  const std::size_t split = path.find_last_of(L"\\/");
  return split == std::wstring_view::npos ? path : path.substr(split + 1);
}

std::wstring_view FolderPart(std::wstring_view path) {
  const std::size_t split = path.find_last_of(L"\\/");
  return split == std::wstring_view::npos ? std::wstring_view() : path.substr(0, split);
}

// Windows compares file names without regard to case.
bool SameName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// X when the program file stands in X\Program Files\FerroVanMobile\; empty otherwise.
std::wstring RootAroundProgram(const std::string& programPath) {
  if (programPath.empty()) {
    return {};
  }
  const std::wstring program = MakeAbsolute(Utf8ToWide(programPath));
  const std::wstring_view installFolder = FolderPart(program);
  const std::wstring_view programFiles = FolderPart(installFolder);
  if (!SameName(LastComponent(installFolder), L"FerroVanMobile") ||
      !SameName(LastComponent(programFiles), L"Program Files")) {
    return {};
  }
  std::wstring root(FolderPart(programFiles));
  // "G:" alone would name the current folder of drive G.
  if (root.size() == 2 && root[1] == L':') {
    root += L'\\';
  }
  return root;
}

std::string Join(std::string relative) {
  if (!relative.empty() && IsSeparator(static_cast<wchar_t>(relative.front()))) {
    relative.erase(0, 1);
  }
  for (char& c : relative) {
    if (c == '/') {
      c = '\\';
    }
  }
  const std::string& root = DeviceRoot();
  if (relative.empty()) {
    return root;
  }
  return !root.empty() && root.back() == '\\' ? root + relative : root + "\\" + relative;
}

// Creates the folder and every folder above it; the parts that cannot be created (the drive,
// a share's server) are passed over, and the end result decides.
bool CreateFolders(const std::wstring& folder) {
  for (std::size_t split = folder.find(L'\\', 1); split != std::wstring::npos;
       split = folder.find(L'\\', split + 1)) {
    CreateDirectoryW(folder.substr(0, split).c_str(), nullptr);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// optionValue and programPath are UTF-8.
std::string ChooseDeviceRoot(const char* optionValue, const std::string& programPath) {
  if (optionValue != nullptr && *optionValue != '\0') {
    return AbsoluteHostFolder(optionValue);
  }
  if (std::wstring fromEnvironment = Variable(L"FERROVAN_DEVICE_ROOT"); !fromEnvironment.empty()) {
    return WideToUtf8(MakeAbsolute(fromEnvironment));
  }
  if (std::wstring around = RootAroundProgram(programPath); !around.empty()) {
    return WideToUtf8(MakeAbsolute(around));
  }
  return WideToUtf8(MakeAbsolute(LocalAppData() + L"\\ferrovan\\device"));
}

std::string AbsoluteHostFolder(std::string_view folder) {
  return WideToUtf8(MakeAbsolute(Utf8ToWide(folder)));
}

std::string ToHostPath(std::wstring_view devicePath) {
  return Join(WideToUtf8(devicePath));
}

// The narrow device path is UTF-8, as the host paths are.
std::string ToHostPath(std::string_view devicePath) {
  return Join(std::string(devicePath));
}

bool CreateSystemFolders() {
  const std::wstring root = Utf8ToWide(DeviceRoot());
  if (root.empty() || !CreateFolders(root)) {
    return false;
  }
  for (const wchar_t* folder :
       {L"Windows", L"Windows\\Desktop", L"Windows\\Programs", L"Windows\\Start Menu",
        L"Windows\\Start Menu\\Programs", L"Program Files", L"Temp"}) {
    CreateDirectoryW(WideHostPath(folder).c_str(), nullptr);
  }
  return true;
}

}  // namespace platform
