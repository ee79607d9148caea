#include "platform/linux/kept_copies.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_root.h"
#include "platform/host.h"
#include "platform/linux/stored_files.h"

namespace platform {
namespace {

std::string TempFolder() {
  return DeviceRoot() + "/Temp";
}

// The digest of the whole file open in fd, read from its start; empty when reading fails.
std::string DigestOf(int fd, std::uint64_t& size) {
  KeptDigest digest;
  std::vector<std::uint8_t> chunk(256 * 1024);
  size = 0;
  for (;;) {
    const ssize_t got = ::pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(size));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return {};
    }
    if (got == 0) {
      return digest.Hex();
    }
    digest.Add({chunk.data(), static_cast<std::size_t>(got)});
    size += static_cast<std::uint64_t>(got);
  }
}

}  // namespace

void DropKeptCopy(const wchar_t* url, Kept kind) {
  const std::string copy = TempFolder() + "/" + KeptCopyName(url, kind);
  ::unlink((copy + kKeptRecordSuffix).c_str());
  ::unlink(copy.c_str());
}

void DropKeptCopy(const wchar_t* url) {
  DropKeptCopy(url, Kept::kCopy);
  DropKeptCopy(url, Kept::kPart);
}

int OpenKeptCopy(const wchar_t* url, KeptRecord& record, Kept kind) {
  const std::string copy = TempFolder() + "/" + KeptCopyName(url, kind);
  std::string text;
  if (!ReadFileStart(copy + kKeptRecordSuffix, kMaxKeptRecordBytes + 1, text)) {
    return -1;
  }
  const int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat info {};
  std::uint64_t size = 0;
  const bool kept = ParseKeptRecord(text, record) && record.url == WideToUtf8(url) && fd >= 0 &&
                    ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                    static_cast<std::uint64_t>(info.st_size) == record.size &&
                    DigestOf(fd, size) == record.digest && size == record.size;
  if (!kept) {
    if (fd >= 0) {
      ::close(fd);
    }
    DropKeptCopy(url, kind);
    return -1;
  }
  return fd;
}

void KeepCopy(const wchar_t* url, int fd, KeptRecord record, Kept kind) {
  const std::string folder = TempFolder();
  const std::string copy = folder + "/" + KeptCopyName(url, kind);
  record.url = WideToUtf8(url);
  record.digest = DigestOf(fd, record.size);
  const std::string text = record.digest.empty() ? std::string() : FormatKeptRecord(record);
  // A new link beside the kept one, then renamed over it: the record is written last, so that a
  // power cut in between leaves a copy whose record does not match it, which is dropped.
  std::string name;
  bool kept = false;
  if (!text.empty() && LinkUnnamedFile(fd, folder, kKeptCopyPrefix, ".new", name)) {
    const std::string linked = folder + "/" + name;
    kept = SameFile(fd, linked) && ::rename(linked.c_str(), copy.c_str()) == 0 &&
           ReplaceFileContent(copy + kKeptRecordSuffix, text);
    if (!kept) {
      ::unlink(linked.c_str());
    }
  }
  if (!kept) {
    DropKeptCopy(url, kind);
  }
}

void RemoveAbandonedKeptLinks() {
  DIR* listing = ::opendir(TempFolder().c_str());
  if (listing == nullptr) {
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if ((name.starts_with(kKeptCopyPrefix) && name.ends_with(".new")) ||
        (name.starts_with(std::string(".") + kKeptCopyPrefix) && name.ends_with(".tmp"))) {
      names.emplace_back(name);
    }
  }
  // A record's new file is held locked by its writer until it is moved into place.
  for (const std::string& name : names) {
    RemoveIfAbandoned(::dirfd(listing), name);
  }
  ::closedir(listing);
}

}  // namespace platform
