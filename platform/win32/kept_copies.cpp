#include "platform/win32/kept_copies.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/win32/small_files.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

std::wstring KeptPath(const wchar_t* url, Kept kind) {
  return WideHostPath(L"Temp") + L"\\" + Utf8ToWide(KeptCopyName(url, kind));
}

// The digest of the whole file open in file, read from its start; empty when reading fails.
std::string DigestOf(HANDLE file, std::uint64_t& size) {
  size = 0;
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    return {};
  }
  KeptDigest digest;
  std::vector<std::uint8_t> chunk(256 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
      return {};
    }
    if (got == 0) {
      return digest.Hex();
    }
    digest.Add({chunk.data(), got});
    size += got;
  }
}

}  // namespace

void DropKeptCopy(const wchar_t* url, Kept kind) {
  const std::wstring copy = KeptPath(url, kind);
  DeleteFileW((copy + Utf8ToWide(kKeptRecordSuffix)).c_str());
  DeleteFileW(copy.c_str());
}

void DropKeptCopy(const wchar_t* url) {
  DropKeptCopy(url, Kept::kCopy);
  DropKeptCopy(url, Kept::kPart);
}

OwnedHandle OpenKeptCopy(const wchar_t* url, KeptRecord& record, Kept kind) {
  const std::wstring copy = KeptPath(url, kind);
  std::string text;
  if (!ReadFileStart(WideToUtf8(copy + Utf8ToWide(kKeptRecordSuffix)), kMaxKeptRecordBytes + 1,
                     text)) {
    return OwnedHandle();
  }
  // A link or junction planted there is not followed, and no one writes the copy while it is read.
  OwnedHandle file(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  std::uint64_t size = 0;
  const bool kept =
      ParseKeptRecord(text, record) && record.url == WideToUtf8(url) && file.Valid() &&
      GetFileInformationByHandle(file.Get(), &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      ((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) == record.size &&
      DigestOf(file.Get(), size) == record.digest && size == record.size;
  if (!kept) {
    file.Close();
    DropKeptCopy(url, kind);
    return OwnedHandle();
  }
  return file;
}

bool KeepCopy(const wchar_t* url, OwnedHandle& held, const std::wstring& hostPath,
              KeptRecord record, Kept kind) {
  const std::wstring copy = KeptPath(url, kind);
  record.url = WideToUtf8(url);
  record.digest = DigestOf(held.Get(), record.size);
  if (!held.Close()) {
    return false;
  }
  const std::string text = record.digest.empty() ? std::string() : FormatKeptRecord(record);
  // A new link beside the kept one, then moved over it: the record is written last, so that a
  // power cut in between leaves a copy whose record does not match it, which is dropped.
  bool kept = false;
  if (!text.empty()) {
    const std::wstring linked =
        WideHostPath(L"Temp") + L"\\" + Utf8ToWide(kKeptCopyPrefix) + RandomLetters() + L".new";
    if (CreateHardLinkW(linked.c_str(), hostPath.c_str(), nullptr)) {
      kept = MoveFileExW(linked.c_str(), copy.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
             ReplaceFileContent(copy + Utf8ToWide(kKeptRecordSuffix), text);
      if (!kept) {
        DeleteFileW(linked.c_str());
      }
    }
  }
  if (!kept) {
    DropKeptCopy(url, kind);
  }
  return true;
}

void RemoveAbandonedKeptLinks() {
  const std::wstring folder = WideHostPath(L"Temp");
  const std::wstring prefix = Utf8ToWide(kKeptCopyPrefix);
  // New links, and the new files of records (which their writer holds open until they are moved,
  // and the system then refuses to delete).
  for (const std::wstring& pattern : {prefix + L"*.new", L"." + prefix + L"*.tmp"}) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
      continue;
    }
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
}

}  // namespace platform
