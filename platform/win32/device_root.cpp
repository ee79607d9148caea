// The device root on Windows. Host paths are kept as UTF-8 and carry backslashes.
// The system header below needs windows.h before it.
#include "platform/windows_types.h"

#include <shlobj.h>

#include <vector>

#include "platform/device_root.h"
#include "platform/host.h"
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

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  std::wstring folder;
  PWSTR known = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &known)) && known != nullptr) {
    folder = known;
  }
  CoTaskMemFree(known);
  return folder;
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

bool IsSameOrInside(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() < folder.size() ||
      !SameName(std::wstring_view(path).substr(0, folder.size()), folder)) {
    return false;
  }
  return path.size() == folder.size() || IsSeparator(path[folder.size()]) ||
         IsSeparator(folder.back());
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

}  // namespace

std::string AbsoluteHostFolder(std::string_view folder) {
  return WideToUtf8(MakeAbsolute(Utf8ToWide(folder)));
}

char HostPathSeparator() {
  return '\\';
}

std::string EnvironmentText(const char* name) {
  return WideToUtf8(Variable(Utf8ToWide(name).c_str()));
}

std::string FolderAroundInstallFolder(const std::string& programPath) {
  return WideToUtf8(RootAroundProgram(programPath));
}

std::string DefaultDeviceRootFolder() {
  std::wstring folder = Variable(L"LOCALAPPDATA");
  if (folder.empty()) {
    folder = KnownFolder(FOLDERID_LocalAppData);
  }
  return WideToUtf8((folder.empty() ? std::wstring(L".") : folder) + L"\\ferrovan\\device");
}

bool IsSystemFolder(const std::string& folder) {
  const std::wstring path = MakeAbsolute(Utf8ToWide(folder));
  if (IsTopFolder(path) || IsTopFolder(path + L"\\")) {
    return true;
  }
  wchar_t windows[MAX_PATH] = L"";
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length > 0 && length < MAX_PATH && IsSameOrInside(path, MakeAbsolute(windows))) {
    return true;
  }
  // A 32-bit program on 64-bit Windows is told of the 32-bit Program Files only; the 64-bit one
  // is ProgramW6432, which every program there has.
  for (const std::wstring& system :
       {KnownFolder(FOLDERID_ProgramFiles), KnownFolder(FOLDERID_ProgramFilesX86),
        Variable(L"ProgramW6432"), KnownFolder(FOLDERID_Profile), Variable(L"USERPROFILE")}) {
    if (!system.empty() && SameName(path, MakeAbsolute(system))) {
      return true;
    }
  }
  return false;
}

bool IsMountedVolumeTop(const std::string& folder) {
  // A folder on which a volume is mounted is the top of that volume. Only asked on a drive: for
  // a share the system would ask the network.
  const std::wstring path = MakeAbsolute(Utf8ToWide(folder));
  wchar_t volume[MAX_PATH + 1] = L"";
  return path.size() > 3 && path[1] == L':' && GetVolumePathNameW(path.c_str(), volume, MAX_PATH) &&
         SameName(MakeAbsolute(volume), path);
}

bool MakeFolderTree(const std::string& folderText) {
  // Every folder above it as well; the parts that cannot be created (the drive, a share's
  // server) are passed over, and the end result decides.
  const std::wstring folder = Utf8ToWide(folderText);
  for (std::size_t split = folder.find(L'\\', 1); split != std::wstring::npos;
       split = folder.find(L'\\', split + 1)) {
    CreateDirectoryW(folder.substr(0, split).c_str(), nullptr);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MakeFolder(const std::string& folder) {
  CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr);
}

}  // namespace platform
