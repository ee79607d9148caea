// Downloads over libcurl. Each file is one GET whose body goes straight to disk as it arrives;
// progress reaches the caller's IBindStatusCallback as the device's URL moniker reports it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/content_pipeline.h"
#include "platform/common/download_limits.h"
#include "platform/device_root.h"
#include "platform/download.h"
#include "platform/linux/curl_library.h"
#include "platform/linux/curl_transfer.h"
#include "platform/linux/descriptors.h"
#include "platform/linux/download_cache.h"
#include "platform/linux/kept_copies.h"
#include "platform/linux/stored_files.h"
#include "platform/text.h"

namespace platform {
namespace {
// One easy handle per thread, kept for the thread's life so that its connection cache lets
// the downloads of one worker reuse their connection.
class ThreadEasyHandle {
 public:
  ThreadEasyHandle() : handle_(CurlApi().easy_init()) {}
  ~ThreadEasyHandle() {
    if (handle_ != nullptr) {
      CurlApi().easy_cleanup(handle_);
    }
  }
  ThreadEasyHandle(const ThreadEasyHandle&) = delete;
  ThreadEasyHandle& operator=(const ThreadEasyHandle&) = delete;
  CURL* Get() const { return handle_; }

 private:
  CURL* handle_;
};

CURL* FreshEasyHandle() {
  if (Curl() == nullptr) {
    return nullptr;
  }
  thread_local ThreadEasyHandle easy;
  if (easy.Get() != nullptr) {
    CurlApi().easy_reset(easy.Get());  // keeps the live connections
  }
  return easy.Get();
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now, so that a late write error (full disk, network file system) is seen.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// A kept copy that a download may take instead of a transfer (keptFd, checked, and its record),
// the part of an earlier try that it may go on with, and what the download learnt of the version
// of the file the copy now holds.
struct FetchedVersion {
  int keptFd = -1;
  KeptRecord kept;
  int partFd = -1;
  KeptRecord part;
  std::string etag;
  std::string lastModified;
  bool fromKept = false;
  bool fromPart = false;
  // The sink refused the whole body.
  bool refused = false;
  // The transfer broke where a later try may go on with it: the copy holds the start of the
  // version etag and lastModified name.
  bool broken = false;
};

// A list of request headers, freed with it.
class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList() { CurlApi().slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  bool Add(const std::string& header) {
    curl_slist* longer = CurlApi().slist_append(list_, header.c_str());
    if (longer != nullptr) {
      list_ = longer;
    }
    return longer != nullptr;
  }
  curl_slist* Get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// The kept copy's bytes as the body, in place of a transfer: written and shown to the sink as a
// body that arrived would be.
bool FillFromKept(Transfer& transfer, int keptFd, const KeptRecord& record) {
  std::vector<char> chunk(kWriteBatch);
  // Hashed again as it is copied: the kept copy is the installed file's inode, which may have
  // changed since it was checked before the request.
  KeptDigest digest;
  for (;;) {
    const ssize_t got = RetryOnInterrupt([&] {
      return ::pread(keptFd, chunk.data(), chunk.size(), static_cast<off_t>(transfer.received));
    });
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      return transfer.received == record.size && digest.Hex() == record.digest;
    }
    const auto bytes = static_cast<std::size_t>(got);
    digest.Add({reinterpret_cast<const std::uint8_t*>(chunk.data()), bytes});
    if (bytes > transfer.maxBytes - transfer.received) {
      if (bytes > transfer.sinkMaxBytes - transfer.received) {
        transfer.sink->TooLarge();
      }
      return false;
    }
    transfer.unwritten->insert(transfer.unwritten->end(), chunk.data(), chunk.data() + bytes);
    transfer.received += bytes;
    if (!WriteUnwritten(transfer)) {
      return false;
    }
  }
}

// Stores a whole body and has the sink judge it.
bool Finish(Transfer& transfer, const FileDescriptor& file,
            std::optional<ContentPipeline>& pipeline, DownloadContentSink* content,
            FetchedVersion* version) {
  // On storage before the caller moves it into place: a power cut then leaves no name with
  // missing data.
  if (!WriteUnwritten(transfer) || ::fsync(file.Get()) != 0 ||
      (pipeline != std::nullopt && !pipeline->Drain())) {
    return false;
  }
  // The sink judges the whole body while the copy is still open and locked.
  if (content != nullptr && !content->Complete()) {
    if (version != nullptr) {
      version->refused = true;
    }
    return false;
  }
  if (version != nullptr) {
    version->etag = transfer.fileEtag;
    version->lastModified = transfer.fileModified;
  }
  if (!transfer.begun) {
    Report(transfer, BINDSTATUS_BEGINDOWNLOADDATA);  // an empty body still begins and ends
  }
  Report(transfer, BINDSTATUS_DOWNLOADINGDATA);
  return true;
}

// The kept copy as the file's version: its bytes as the body, and its record's validators.
bool TakeKept(Transfer& transfer, FetchedVersion& version) {
  version.fromKept = true;
  if (!FillFromKept(transfer, version.keptFd, version.kept)) {
    return false;
  }
  transfer.status = 200;
  transfer.total = version.kept.size;
  transfer.fileEtag = version.kept.etag;
  transfer.fileModified = version.kept.lastModified;
  return true;
}

// Fetches url into the open file, which stays open. True only when the whole body has arrived,
// is on disk and the sink has judged it.
bool Fetch(const wchar_t* url, const FileDescriptor& file, IBindStatusCallback* callback,
           DownloadContentSink* content, FetchedVersion* version = nullptr) {
  std::size_t wideLength = std::wcslen(url);
  std::string narrowUrl(wideLength * 4 + 1, '\0');
  if (wideLength == 0 || !WideToNarrow(narrowUrl, url)) {
    return false;
  }
  CURL* easy = FreshEasyHandle();
  if (easy == nullptr) {
    return false;
  }
  Transfer transfer;
  std::optional<ContentPipeline> pipeline;
  if (content != nullptr) {
    pipeline.emplace(*content);
    transfer.content = &*pipeline;
    transfer.sink = content;
    transfer.sinkMaxBytes = content->MaxBytes();
  }
  // A length larger than the device can store fails before a byte of the body is written, and a
  // body that runs past that room is cut off there.
  struct statvfs storage {};
  const std::uint64_t room = ::fstatvfs(file.Get(), &storage) == 0
                                 ? static_cast<std::uint64_t>(storage.f_bavail) * storage.f_frsize
                                 : UINT64_MAX;
  transfer.maxBytes = std::min(transfer.sinkMaxBytes, room);
  thread_local std::vector<char> batches[ContentPipeline::kBatchesInFlight + 1];
  transfer.batches = std::span(batches, content != nullptr ? std::size(batches) : 1);
  for (std::vector<char>& batch : transfer.batches) {
    batch.clear();
    batch.reserve(kWriteBatch + CURL_MAX_WRITE_SIZE);
  }
  transfer.unwritten = &transfer.batches[0];
  transfer.fd = file.Get();
  transfer.url = url;
  transfer.callback = callback;

  // A kept copy of the size that content can prove whole needs no request at all.
  std::uint64_t proven = 0;
  if (version != nullptr && version->keptFd >= 0 && content != nullptr &&
      content->ProvesWholeFile(proven) && proven == version->kept.size) {
    return TakeKept(transfer, *version) && Finish(transfer, file, pipeline, content, version);
  }
  if (version != nullptr && version->partFd >= 0) {
    // The start of the file that a broken try kept, shown to the sink as the body's start; the
    // rest is asked for on its version. A part that no longer reads as recorded starts again.
    version->fromPart = true;
    if (FillFromKept(transfer, version->partFd, version->part)) {
      transfer.fileEtag = version->part.etag;
      transfer.fileModified = version->part.lastModified;
    } else if (!StartAgain(transfer)) {
      return false;
    }
  }
  CURLcode result = CURLE_OK;
  for (int resumes = 0;; ++resumes) {
    transfer.easy = easy;
    SetTransferOptions(easy, narrowUrl.c_str(), transfer);
    HeaderList headers;
    // A try must end further into the file than the last one did, a try that started it again
    // too.
    const std::uint64_t before = transfer.received;
    transfer.resuming = before != 0;
    transfer.conditional = !transfer.resuming && version != nullptr && version->keptFd >= 0;
    if (transfer.conditional) {
      // Whether the kept copy is still the file's version: 304 if it is, else the file.
      const KeptRecord& kept = version->kept;
      if (!headers.Add(!kept.etag.empty() ? "If-None-Match: " + kept.etag
                                          : "If-Modified-Since: " + kept.lastModified)) {
        break;
      }
      CurlApi().easy_setopt(easy, CURLOPT_HTTPHEADER, headers.Get());
    }
    if (transfer.resuming) {
      // The rest of the same version of the file; a server that cannot tell sends it whole.
      const std::string range = std::to_string(before) + "-";
      if (!headers.Add("If-Range: " + Validator(transfer))) {
        break;
      }
      CurlApi().easy_setopt(easy, CURLOPT_RANGE, range.c_str());
      CurlApi().easy_setopt(easy, CURLOPT_HTTPHEADER, headers.Get());
    }
    transfer.refused = false;
    transfer.otherVersion = false;
    transfer.notModified = false;
    result = CurlApi().easy_perform(easy);
    if (result == CURLE_OK && transfer.notModified) {
      if (!TakeKept(transfer, *version)) {
        result = CURLE_WRITE_ERROR;
      }
      break;
    }
    // The length was refused for the sink's own bound (not for the device's room, when that is
    // the smaller).
    if (result == CURLE_FILESIZE_EXCEEDED && content != nullptr &&
        transfer.maxBytes == transfer.sinkMaxBytes) {
      content->TooLarge();
    }
    const bool resumable = BrokenConnection(result) && !transfer.refused &&
                           (transfer.status == 200 || transfer.status == 206) &&
                           (transfer.received > before || transfer.otherVersion) &&
                           !Validator(transfer).empty() && resumes < kMaxResumes;
    if (!resumable || !WriteUnwritten(transfer)) {
      break;
    }
    easy = FreshEasyHandle();
  }
  // A redirect without a usable Location ends "successfully" on a 3xx: that body is not the file.
  const bool complete = result == CURLE_OK && transfer.status >= 200 && transfer.status < 300 &&
                        (transfer.total == kUnknownLength || transfer.total == transfer.received);
  if (!complete) {
    // Broken where a later try can go on: what arrived is written out for the caller to keep.
    // Status 0: no server answered this try, which went on from a kept part; that part stays.
    if (version != nullptr && BrokenConnection(result) && !transfer.refused &&
        (transfer.status == 200 || transfer.status == 206 || transfer.status == 0) &&
        transfer.received != 0 && !Validator(transfer).empty() && WriteUnwritten(transfer)) {
      version->broken = true;
      version->etag = transfer.fileEtag;
      version->lastModified = transfer.fileModified;
    }
    return false;
  }
  return Finish(transfer, file, pipeline, content, version);
}

bool SameFileSystem(const std::string& one, const std::string& other) {
  struct stat first {};
  struct stat second {};
  return ::stat(one.c_str(), &first) == 0 && ::stat(other.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev;
}

class CurlDownloadService final : public DownloadService {
 public:
  HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                              IBindStatusCallback* callback,
                              DownloadContentSink* content) override {
    if (url == nullptr || cachePath.empty()) {
      return E_FAIL;
    }
    cachePath[0] = L'\0';
    const std::string folder = DeviceRoot() + "/Temp";
    ::mkdir(folder.c_str(), 0777);  // a device always has it; recreate it if someone removed it
    int fd = -1;
    const std::string name = CreateCacheFile(folder, CacheFileNameFor(url), fd);
    if (fd < 0) {
      return E_FAIL;
    }
    FileDescriptor file(fd);
    const std::string hostPath = folder + "/" + name;
    const std::string devicePath = "Temp\\" + name;
    if (!NarrowToWide(cachePath, devicePath.c_str()) || !Fetch(url, file, callback, content) ||
        !file.Close()) {
      cachePath[0] = L'\0';
      ::unlink(hostPath.c_str());
      return E_FAIL;
    }
    return S_OK;
  }

  HRESULT DownloadToFile(const wchar_t* url, const wchar_t* target, IBindStatusCallback* callback,
                         DownloadContentSink* content) override {
    if (url == nullptr || target == nullptr) {
      return E_FAIL;
    }
    return FetchAgainWithoutKeptCopy(url, content, [&](bool useKept, bool& took) {
      return FetchToFile(url, target, callback, content, useKept, took);
    });
  }

  void RemoveAbandonedCopies() override {
    RemoveAbandonedCacheFiles();
    RemoveAbandonedKeptLinks();
  }

 private:
  static HRESULT FetchToFile(const wchar_t* url, const wchar_t* target,
                             IBindStatusCallback* callback, DownloadContentSink* content,
                             bool useKept, bool& tookKept) {
    // Fetched into a file that has no name until it is whole and judged, so that no other
    // program can open it and change what the sink saw, then named beside the target and renamed
    // over it while still open: a link at the target is replaced rather than written through.
    // Where the file system cannot make a file without a name, a named copy stands in, in Temp
    // (swept after a killed loader) or beside the target when Temp is on another file system.
    const std::string hostPath = ToHostPath(std::wstring_view(target));
    const std::string targetFolder = FolderOf(hostPath);
    const std::string copySuffix = "-" + CacheFileNameFor(url);
    std::string folder = targetFolder;
    std::string name;
    int fd = OpenUnnamedFile(targetFolder, 0777);
    if (fd < 0) {
      if (!UnnamedFilesUnsupported(errno)) {
        return E_FAIL;
      }
      folder = DeviceRoot() + "/Temp";
      ::mkdir(folder.c_str(), 0777);
      if (!SameFileSystem(folder, targetFolder)) {
        folder = targetFolder;
      }
      name = CreateCacheFile(folder, CacheFileNameFor(url), fd);
      if (fd < 0) {
        return E_FAIL;
      }
    }
    FileDescriptor file(fd);
    FetchedVersion version;
    version.keptFd = useKept ? OpenKeptCopy(url, version.kept) : -1;
    const FileDescriptor kept(version.keptFd);
    version.partFd = useKept ? OpenKeptCopy(url, version.part, Kept::kPart) : -1;
    const FileDescriptor part(version.partFd);
    if (version.partFd >= 0) {
      DropKeptCopy(url, Kept::kPart);  // taken once: this try keeps its own if it breaks
    }
    bool placed = Fetch(url, file, callback, content, &version);
    tookKept = version.fromKept || (version.fromPart && version.refused);
    if (!placed && version.broken) {
      KeptRecord record;
      record.etag = version.etag;
      record.lastModified = version.lastModified;
      KeepCopy(url, fd, std::move(record), Kept::kPart);
    }
    placed = placed &&
             (!name.empty() || LinkUnnamedFile(fd, folder, kCacheFilePrefix, copySuffix, name));
    const std::string copy = folder + "/" + name;
    placed = placed && ::rename(copy.c_str(), hostPath.c_str()) == 0;
    if (!placed) {
      if (!name.empty()) {
        ::unlink(copy.c_str());
      }
      return E_FAIL;
    }
    // Whatever took the copy's name in the moment before the rename is not what was judged.
    if (!SameFile(fd, hostPath)) {
      ::unlink(hostPath.c_str());
      return E_FAIL;
    }
    SyncFolder(targetFolder);
    // The version just placed is kept for the next download of url, when the server named it.
    if (!version.etag.empty() || !version.lastModified.empty()) {
      KeptRecord record;
      record.etag = version.etag;
      record.lastModified = version.lastModified;
      KeepCopy(url, fd, std::move(record));
    } else {
      DropKeptCopy(url);
    }
    return file.Close() ? S_OK : E_FAIL;
  }
};

}  // namespace

template <>
DownloadService& HostService<DownloadService>() {
  static CurlDownloadService service;
  return service;
}

}  // namespace platform
