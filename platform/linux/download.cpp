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
#include "platform/linux/descriptors.h"
#include "platform/linux/download_cache.h"
#include "platform/linux/kept_copies.h"
#include "platform/linux/stored_files.h"
#include "platform/text.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 10;
constexpr auto kReportInterval = std::chrono::milliseconds(100);
// Bytes handed over per write: the library's 16 KiB default costs a write and a callback for
// every 16 KiB of a file of tens of MiB; curl's own tool reads 100 KiB at a time.
constexpr long kReceiveBufferSize = 100 * 1024;

// Only called once Curl() has answered: every download starts with FreshEasyHandle().
const CurlLibrary& Api() {
  return *Curl();
}

// One easy handle per thread, kept for the thread's life so that its connection cache lets
// the downloads of one worker reuse their connection.
class ThreadEasyHandle {
 public:
  ThreadEasyHandle() : handle_(Api().easy_init()) {}
  ~ThreadEasyHandle() {
    if (handle_ != nullptr) {
      Api().easy_cleanup(handle_);
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
    Api().easy_reset(easy.Get());  // keeps the live connections
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

std::uint32_t Clamp32(std::uint64_t value) {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

constexpr std::uint64_t kWriteBackStretch = 1024 * 1024;
// libcurl hands the body over in pieces of 16 KiB at most; gathered into writes of this size, a
// file costs a sixteenth of the system calls.
constexpr std::size_t kWriteBatch = 256 * 1024;

constexpr std::uint64_t kUnknownLength = UINT64_MAX;

struct Transfer {
  CURL* easy = nullptr;
  int fd = -1;
  const wchar_t* url = nullptr;
  IBindStatusCallback* callback = nullptr;
  // The content sink, fed a few batches behind the transfer on a thread of its own.
  ContentPipeline* content = nullptr;
  DownloadContentSink* sink = nullptr;
  // The most the body may bring: what the sink takes, and what the device can store.
  std::uint64_t maxBytes = UINT64_MAX;
  std::uint64_t sinkMaxBytes = UINT64_MAX;
  std::uint64_t received = 0;
  // While the sink still reads the batches handed to it, the next one fills. The buffers are
  // the thread's, kept from one download to the next: fresh ones would cost the page faults of
  // a mebibyte per file.
  std::span<std::vector<char>> batches;
  std::size_t filling = 0;
  std::vector<char>* unwritten = nullptr;  // received, not yet written to the file
  std::uint64_t written = 0;               // bytes written to the file
  std::uint64_t writeBackStarted = 0;      // bytes whose write-back to storage has been started
  bool begun = false;
  Clock::time_point lastReport{};
  // What the response being read says of the file: its status, its validators, and where its
  // body starts in the file and how long the file is, when it says.
  long status = 0;
  std::string etag;
  std::string lastModified;
  std::uint64_t rangeFirst = 0;
  std::uint64_t rangeTotal = 0;
  bool rangeGiven = false;
  std::uint64_t total = kUnknownLength;
  // Set for a try that asks for the rest of the file from received on; cleared when a response
  // cannot continue the body (the transfer then ends as failed).
  bool resuming = false;
  bool refused = false;
  // Set when a try's answer started the body again with another version of the file.
  bool otherVersion = false;
  // The validators of the file's version whose bytes the copy holds, as its response gave them
  // (an ETag only when strong); see Validator.
  std::string fileEtag;
  std::string fileModified;
  // Set when the first try asks whether a kept copy is still the file's version, and when the
  // server answers that it is (304).
  bool conditional = false;
  bool notModified = false;
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

// The whole file's length as the responses gave it (0 when they did not): a resumed transfer
// counts on from where it resumed.
void Report(Transfer& transfer, std::uint32_t status) {
  transfer.lastReport = Clock::now();
  if (transfer.callback != nullptr) {
    const std::uint64_t total = transfer.total == kUnknownLength ? 0 : transfer.total;
    transfer.callback->OnProgress(Clamp32(transfer.received), Clamp32(total), status, transfer.url);
  }
}

// The file is flushed before it counts as downloaded. Starting the write-back of each finished
// stretch while the rest still arrives leaves that flush little to wait for.
void StartWriteBack(Transfer& transfer) {
  const std::uint64_t pending = transfer.written - transfer.writeBackStarted;
  if (pending < kWriteBackStretch) {
    return;
  }
  ::sync_file_range(transfer.fd, static_cast<off_t>(transfer.writeBackStarted),
                    static_cast<off_t>(pending), SYNC_FILE_RANGE_WRITE);
  transfer.writeBackStarted = transfer.written;
}

bool WriteUnwritten(Transfer& transfer) {
  std::vector<char>& batch = *transfer.unwritten;
  if (transfer.content != nullptr &&
      !transfer.content->Hand(
          {reinterpret_cast<const std::uint8_t*>(batch.data()), batch.size()})) {
    return false;
  }
  if (!WriteAll(transfer.fd, std::string_view(batch.data(), batch.size()))) {
    return false;
  }
  transfer.written += batch.size();
  if (transfer.content != nullptr) {
    // The sink may still read this batch: the next bytes go to the next buffer, which it is done
    // with once Hand has returned.
    transfer.filling = (transfer.filling + 1) % transfer.batches.size();
    transfer.unwritten = &transfer.batches[transfer.filling];
  }
  transfer.unwritten->clear();
  StartWriteBack(transfer);
  return true;
}

std::size_t OnBodyData(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  // Anything short of bytes ends the transfer with CURLE_WRITE_ERROR: so does a body that runs
  // past what the caller takes, however long the server said it would be.
  if (bytes > transfer.maxBytes - transfer.received) {
    if (bytes > transfer.sinkMaxBytes - transfer.received) {
      transfer.sink->TooLarge();
    }
    return 0;
  }
  transfer.unwritten->insert(transfer.unwritten->end(), data, data + bytes);
  transfer.received += bytes;
  if (transfer.unwritten->size() >= kWriteBatch && !WriteUnwritten(transfer)) {
    return 0;
  }
  if (!transfer.begun) {
    transfer.begun = true;
    Report(transfer, BINDSTATUS_BEGINDOWNLOADDATA);
  } else if (Clock::now() - transfer.lastReport >= kReportInterval) {
    Report(transfer, BINDSTATUS_DOWNLOADINGDATA);
  }
  return bytes;
}

// The value of a header line "Name: value\r\n" when its name is name (in any letter case).
bool HeaderValue(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() <= name.size() || line[name.size()] != ':') {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) !=
        std::tolower(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  value = line.substr(name.size() + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
    value.remove_suffix(1);
  }
  return true;
}

bool ParseCount(std::string_view text, std::uint64_t& count) {
  if (text.empty() || text.size() > 19) {
    return false;
  }
  count = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    count = count * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// What a range is asked on: the copy's version's strong ETag, else its Last-Modified date; empty
// when it has neither, and then a broken transfer is not resumed.
const std::string& Validator(const Transfer& transfer) {
  return !transfer.fileEtag.empty() ? transfer.fileEtag : transfer.fileModified;
}

// Whether a header's value can go into a request header and a record as it stands.
bool Printable(std::string_view value) {
  return std::none_of(value.begin(), value.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// Empties the copy and starts the sink again, for a body that starts again from its first byte.
bool StartAgain(Transfer& transfer) {
  transfer.unwritten->clear();
  if (::ftruncate(transfer.fd, 0) != 0 || ::lseek(transfer.fd, 0, SEEK_SET) != 0 ||
      (transfer.content != nullptr && (!transfer.content->Drain() || !transfer.sink->Restart()))) {
    return false;
  }
  transfer.received = 0;
  transfer.written = 0;
  transfer.writeBackStarted = 0;
  return true;
}

// Decides, once a final response's headers are in, whether its body continues the copy: the
// first response of a download starts it; a resumed one must be a 206 of the same version and
// length that starts exactly where the copy ends, or a 200 that starts the file again. False
// ends the transfer as failed.
bool TakeResponse(Transfer& transfer, std::uint64_t length, bool lengthGiven) {
  if (transfer.status < 200 || transfer.status >= 300) {
    return true;  // an error answer: judged by its status once the transfer ends
  }
  if (transfer.status != 200 && transfer.status != 206) {
    return !transfer.resuming;  // another success answers a first request only
  }
  // A weak ETag names a file that may differ byte for byte: no range is asked on it.
  const bool strong =
      !transfer.etag.empty() && !transfer.etag.starts_with("W/") && Printable(transfer.etag);
  const std::string etag = strong ? transfer.etag : std::string();
  const std::string modified =
      Printable(transfer.lastModified) ? transfer.lastModified : std::string();
  const std::uint64_t whole = transfer.status == 206 ? transfer.rangeTotal
                              : lengthGiven          ? length
                                                     : kUnknownLength;
  if (transfer.resuming && whole != kUnknownLength && whole > transfer.maxBytes) {
    if (whole > transfer.sinkMaxBytes) {
      transfer.sink->TooLarge();
    }
    return false;
  }
  if (transfer.status == 206) {
    // The rest of the version the range was asked on, and of the length known: a server that
    // ignored If-Range would splice two versions of the file.
    const bool sameVersion =
        !transfer.fileEtag.empty() ? etag == transfer.fileEtag : modified == transfer.fileModified;
    if (!transfer.resuming || !transfer.rangeGiven || transfer.rangeFirst != transfer.received ||
        !sameVersion || (transfer.total != kUnknownLength && whole != transfer.total)) {
      return false;
    }
    transfer.total = whole;
    return true;
  }
  // The server sent the whole file: the copy and the sink start again.
  if (transfer.resuming || transfer.received != 0) {
    // Another version's bytes count as progress from nothing; the same version's, sent whole
    // again, must still go further than the last try did.
    transfer.otherVersion = etag != transfer.fileEtag || modified != transfer.fileModified;
    if (!StartAgain(transfer)) {
      return false;
    }
  }
  transfer.total = whole;
  transfer.fileEtag = etag;
  transfer.fileModified = modified;
  return true;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  const std::string_view line(data, bytes);
  std::string_view value;
  if (line.starts_with("HTTP/")) {
    // A new response (after a redirect, or an interim one): what the last one said is gone.
    const std::size_t blank = line.find(' ');
    std::uint64_t status = 0;
    transfer.status =
        blank != std::string_view::npos && ParseCount(line.substr(blank + 1, 3), status)
            ? static_cast<long>(status)
            : 0;
    transfer.etag.clear();
    transfer.lastModified.clear();
    transfer.rangeGiven = false;
  } else if (HeaderValue(line, "ETag", value)) {
    transfer.etag = value;
  } else if (HeaderValue(line, "Last-Modified", value)) {
    transfer.lastModified = value;
  } else if (HeaderValue(line, "Content-Range", value)) {
    // "bytes FIRST-LAST/TOTAL"
    std::uint64_t first = 0;
    std::uint64_t total = 0;
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (value.starts_with("bytes ") && dash != std::string_view::npos &&
        slash != std::string_view::npos && ParseCount(value.substr(6, dash - 6), first)) {
      transfer.rangeGiven = true;
      transfer.rangeFirst = first;
      transfer.rangeTotal = ParseCount(value.substr(slash + 1), total) ? total : kUnknownLength;
    }
  } else if (line == "\r\n" || line == "\n") {
    if (transfer.status == 304) {
      // Only a question asked may be answered so: the kept copy is the file.
      transfer.notModified = transfer.conditional && !transfer.resuming;
      if (!transfer.notModified) {
        transfer.refused = true;
        return 0;
      }
    } else if (transfer.status >= 200 && transfer.status != 204 &&
               !(transfer.status >= 300 && transfer.status < 400)) {
      curl_off_t length = -1;
      Api().easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
      if (!TakeResponse(transfer, static_cast<std::uint64_t>(length), length >= 0)) {
        transfer.refused = true;
        return 0;
      }
    }
  }
  return bytes;
}

// Whether url's scheme is https, in any letter case.
bool IsHttpsAddress(std::string_view url) {
  constexpr std::string_view kScheme = "https://";
  if (url.size() < kScheme.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = url[i] >= 'A' && url[i] <= 'Z' ? static_cast<char>(url[i] - 'A' + 'a') : url[i];
    if (c != kScheme[i]) {
      return false;
    }
  }
  return true;
}

void SetTransferOptions(CURL* easy, const char* url, Transfer& transfer) {
  Api().easy_setopt(easy, CURLOPT_URL, url);
  Api().easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  Api().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);  // several threads may download at once
  // A proxy's answer to CONNECT is no answer about the file.
  Api().easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  Api().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  // A download asked for over HTTPS stays on HTTPS: a redirect to plain HTTP would hand the
  // file to anyone on the way.
  const bool secure = IsHttpsAddress(url);
#if LIBCURL_VERSION_NUM >= 0x075500
  Api().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  Api().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
#else
  Api().easy_setopt(easy, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
  Api().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS,
                    static_cast<long>(secure ? CURLPROTO_HTTPS : CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  Api().easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  Api().easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  Api().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  Api().easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kRateFloorBytesPerSecond);
  Api().easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, StallSeconds());
  Api().easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  Api().easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  const char* caFile = std::getenv("SSL_CERT_FILE");
  if (caFile != nullptr && *caFile != '\0') {
    // The named file replaces the system's trust store, as it does for OpenSSL's own tools.
    Api().easy_setopt(easy, CURLOPT_CAINFO, caFile);
    Api().easy_setopt(easy, CURLOPT_CAPATH, static_cast<char*>(nullptr));
  }
  Api().easy_setopt(easy, CURLOPT_USERAGENT, "ferrovan-loader");
  Api().easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  if (transfer.maxBytes <= static_cast<std::uint64_t>(INT64_MAX) && transfer.received == 0) {
    // An announced length above it fails the transfer before its body (a resumed one is judged
    // by the whole length its answer gives, in TakeResponse).
    Api().easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(transfer.maxBytes));
  }
  Api().easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBodyData);
  Api().easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  Api().easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
  Api().easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
}

// The libcurl error of a connection that broke or stood still, which a range may resume, as
// against a refusal of this side's (a body past its bound, a sink that refused it) or a server's.
bool BrokenConnection(CURLcode result) {
  switch (result) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_COULDNT_CONNECT:
      return true;
    default:
      return false;
  }
}

// A list of request headers, freed with it.
class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList() { Api().slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  bool Add(const std::string& header) {
    curl_slist* longer = Api().slist_append(list_, header.c_str());
    if (longer != nullptr) {
      list_ = longer;
    }
    return longer != nullptr;
  }
  curl_slist* Get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// Fetches url into the open file, which stays open. True only when the whole body has arrived,
// is on disk and the sink has judged it.
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
      Api().easy_setopt(easy, CURLOPT_HTTPHEADER, headers.Get());
    }
    if (transfer.resuming) {
      // The rest of the same version of the file; a server that cannot tell sends it whole.
      const std::string range = std::to_string(before) + "-";
      if (!headers.Add("If-Range: " + Validator(transfer))) {
        break;
      }
      Api().easy_setopt(easy, CURLOPT_RANGE, range.c_str());
      Api().easy_setopt(easy, CURLOPT_HTTPHEADER, headers.Get());
    }
    transfer.refused = false;
    transfer.otherVersion = false;
    transfer.notModified = false;
    result = Api().easy_perform(easy);
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
    if (version != nullptr && BrokenConnection(result) && !transfer.refused &&
        (transfer.status == 200 || transfer.status == 206) && transfer.received != 0 &&
        !Validator(transfer).empty() && WriteUnwritten(transfer)) {
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
