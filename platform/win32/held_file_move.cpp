#include "platform/win32/held_file_move.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/common/replacement_names.h"
#include "platform/win32/handles.h"
#include "platform/win32/small_files.h"

namespace platform {
namespace {

// Renames the held file over to. The name is given in the system's own form ("\??\C:\..."), which
// the rename takes whole; a name in the usual form would be taken relative to the file's folder.
bool RenameHeld(HANDLE held, const std::wstring& to, bool replace) {
  DWORD length = GetFullPathNameW(to.c_str(), 0, nullptr, nullptr);
  if (length == 0) {
    return false;
  }
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(to.c_str(), length, full.data(), nullptr);
  full.resize(length);
  // "\\?\C:\..." is "\??\C:\...", and a share "\\server\share\..." is "\??\UNC\server\share\...".
  std::wstring name;
  if (full.rfind(L"\\\\?\\", 0) == 0) {
    name = L"\\??\\" + full.substr(4);
  } else if (full.rfind(L"\\\\", 0) == 0) {
    name = L"\\??\\UNC\\" + full.substr(2);
  } else {
    name = L"\\??\\" + full;
  }
  const std::size_t bytes = sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t);
  // Whole words, so that the record is aligned as the call expects.
  std::vector<std::uint64_t> buffer((bytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), name.size() * sizeof(wchar_t));
  return SetFileInformationByHandle(held, FileRenameInfo, info, static_cast<DWORD>(bytes)) != FALSE;
}

void RemoveHeld(HANDLE held) {
  // Its one member is named DeleteFile, which the system headers turn into a macro.
  FILE_DISPOSITION_INFO disposition{TRUE};
  SetFileInformationByHandle(held, FileDispositionInfo, &disposition, sizeof disposition);
}

bool CopyHeld(HANDLE from, HANDLE to) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) {
    return false;
  }
  std::string chunk(64 * 1024, '\0');
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(from, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
      return false;
    }
    if (read == 0) {
      return true;
    }
    if (!WriteAll(to, std::string_view(chunk.data(), read))) {
      return false;
    }
  }
}

// The system's own copy between volumes (MOVEFILE_COPY_ALLOWED) writes straight to the final
// name, so that a kill, a full volume or a power cut mid-copy leaves a cut file under it. The
// copy goes to a new name beside the destination instead, in the shape of a small file's
// replacement, is flushed, and only then takes the destination's name.
bool MoveAcrossVolumes(HANDLE held, const std::wstring& to, bool replace) {
  const std::size_t slash = to.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : to.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? to : to.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path =
        folder + L"." + name.substr(0, kMaxReplacementStem) + L"." + RandomLetters() + L".tmp";
    // CREATE_NEW never opens what is already there, a link included; no one else opens it.
    OwnedHandle copy(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy.Valid()) {
      if (GetLastError() == ERROR_FILE_EXISTS) {
        continue;
      }
      return false;
    }
    if (!CopyHeld(held, copy.Get()) || !FlushFileBuffers(copy.Get()) ||
        !RenameHeld(copy.Get(), to, replace)) {
      RemoveHeld(copy.Get());
      return false;
    }
    RemoveHeld(held);
    return copy.Close();
  }
  return false;
}

}  // namespace

bool MoveHeldFile(HANDLE held, const std::wstring& to, bool replace) {
  if (RenameHeld(held, to, replace)) {
    // As MOVEFILE_WRITE_THROUGH would: in place on storage before the move counts as done.
    FlushFileBuffers(held);
    return true;
  }
  return GetLastError() == ERROR_NOT_SAME_DEVICE && MoveAcrossVolumes(held, to, replace);
}

}  // namespace platform
