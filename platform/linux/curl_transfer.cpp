#include "platform/linux/curl_transfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/common/download_limits.h"
#include "platform/linux/descriptors.h"

namespace platform {
namespace {

constexpr long kMaxRedirects = 10;
constexpr auto kReportInterval = std::chrono::milliseconds(100);
// Bytes handed over per write: the library's 16 KiB default costs a write and a callback for
// every 16 KiB of a file of tens of MiB; curl's own tool reads 100 KiB at a time.
constexpr long kReceiveBufferSize = 100 * 1024;

std::uint32_t Clamp32(std::uint64_t value) {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

constexpr std::uint64_t kWriteBackStretch = 1024 * 1024;

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
  } else if (TransferClock::now() - transfer.lastReport >= kReportInterval) {
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

// Whether a header's value can go into a request header and a record as it stands.
bool Printable(std::string_view value) {
  return std::none_of(value.begin(), value.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
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
    } else if (transfer.status >= 200 && (transfer.status != 204 || transfer.resuming) &&
               !(transfer.status >= 300 && transfer.status < 400)) {
      // A resumed request is answered with the rest of the file or the whole of it: a 204 to it
      // would pass a part off as the whole file.
      curl_off_t length = -1;
      CurlApi().easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
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

}  // namespace

void Report(Transfer& transfer, std::uint32_t status) {
  transfer.lastReport = TransferClock::now();
  if (transfer.callback != nullptr) {
    const std::uint64_t total = transfer.total == kUnknownLength ? 0 : transfer.total;
    transfer.callback->OnProgress(Clamp32(transfer.received), Clamp32(total), status, transfer.url);
  }
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

const std::string& Validator(const Transfer& transfer) {
  return !transfer.fileEtag.empty() ? transfer.fileEtag : transfer.fileModified;
}

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

void SetTransferOptions(CURL* easy, const char* url, Transfer& transfer) {
  CurlApi().easy_setopt(easy, CURLOPT_URL, url);
  CurlApi().easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  CurlApi().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);  // several threads may download at once
  // A proxy's answer to CONNECT is no answer about the file.
  CurlApi().easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  CurlApi().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  // A download asked for over HTTPS stays on HTTPS: a redirect to plain HTTP would hand the
  // file to anyone on the way.
  const bool secure = IsHttpsAddress(url);
#if LIBCURL_VERSION_NUM >= 0x075500
  CurlApi().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  CurlApi().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
#else
  CurlApi().easy_setopt(easy, CURLOPT_PROTOCOLS,
                        static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
  CurlApi().easy_setopt(
      easy, CURLOPT_REDIR_PROTOCOLS,
      static_cast<long>(secure ? CURLPROTO_HTTPS : CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  CurlApi().easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  CurlApi().easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  CurlApi().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  CurlApi().easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kRateFloorBytesPerSecond);
  CurlApi().easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, StallSeconds());
  CurlApi().easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  CurlApi().easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  const char* caFile = std::getenv("SSL_CERT_FILE");
  if (caFile != nullptr && *caFile != '\0') {
    // The named file replaces the system's trust store, as it does for OpenSSL's own tools.
    CurlApi().easy_setopt(easy, CURLOPT_CAINFO, caFile);
    CurlApi().easy_setopt(easy, CURLOPT_CAPATH, static_cast<char*>(nullptr));
  }
  CurlApi().easy_setopt(easy, CURLOPT_USERAGENT, "ferrovan-loader");
  CurlApi().easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  if (transfer.maxBytes <= static_cast<std::uint64_t>(INT64_MAX) && transfer.received == 0) {
    // An announced length above it fails the transfer before its body (a resumed one is judged
    // by the whole length its answer gives, in TakeResponse).
    CurlApi().easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                          static_cast<curl_off_t>(transfer.maxBytes));
  }
  CurlApi().easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBodyData);
  CurlApi().easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  CurlApi().easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
  CurlApi().easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
}

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

}  // namespace platform
