// One libcurl transfer of a download: the state its callbacks share while the body streams to
// the download's file and sink, how each response is taken (the whole file, or the rest of it
// from a range), and the options each try is made with.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/common/content_pipeline.h"
#include "platform/download.h"
#include "platform/linux/curl_library.h"
#include "platform/windows_types.h"

namespace platform {

// Only called once Curl() has answered: every download starts with a fresh easy handle.
inline const CurlLibrary& CurlApi() {
  return *Curl();
}

using TransferClock = std::chrono::steady_clock;

// libcurl hands the body over in pieces of 16 KiB at most; gathered into writes of this size, a
// file costs a sixteenth of the system calls.
inline constexpr std::size_t kWriteBatch = 256 * 1024;

inline constexpr std::uint64_t kUnknownLength = UINT64_MAX;

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
  TransferClock::time_point lastReport{};
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

// Tells the caller's callback how far the transfer is, against the whole file's length as the
// responses gave it (0 when they did not): a resumed transfer counts on from where it resumed.
void Report(Transfer& transfer, std::uint32_t status);
// Writes the received bytes not yet written, handing them to the sink first.
bool WriteUnwritten(Transfer& transfer);
// Empties the copy and starts the sink again, for a body that starts again from its first byte.
bool StartAgain(Transfer& transfer);
// What a range is asked on: the copy's version's strong ETag, else its Last-Modified date; empty
// when it has neither, and then a broken transfer is not resumed.
const std::string& Validator(const Transfer& transfer);
// Sets up easy for one try of the transfer of url.
void SetTransferOptions(CURL* easy, const char* url, Transfer& transfer);
// The libcurl error of a connection that broke or stood still, which a range may resume, as
// against a refusal of this side's (a body past its bound, a sink that refused it) or a server's.
bool BrokenConnection(CURLcode result);

}  // namespace platform
