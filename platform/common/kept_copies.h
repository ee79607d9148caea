// What a host keeps of the files its downloads put in place, as a device's HTTP cache keeps what
// it fetched: the next download of the same address asks the server whether the file changed (a
// conditional request) and, answered 304 Not Modified, puts the kept copy in place without a
// transfer. The kept copy is a hard link of the placed file in the device's Temp folder, so that
// it takes no storage of its own; its record says which address and version of the file it is and
// what it hashed to, and a copy that no longer hashes so (the installed file was damaged, which
// its hard link shares) is dropped and the file fetched whole.
//
// A download of DownloadToFile whose transfer broke where a range could go on with it (the server
// named the file's version) keeps what had arrived as well, as the address's part: the next
// download of that address (the Ok at the prompt, or the next start) shows the part to its sink
// and asks only for the rest, on the same version; a server that answers with the whole file
// starts it again. A part is used once: taken, it is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <sodium.h>

#include "platform/download.h"
#include "platform/windows_types.h"

namespace platform {

inline constexpr char kKeptCopyPrefix[] = "ferrovan-kept.";
inline constexpr char kKeptRecordSuffix[] = ".record";
// A record is a few short lines: anything longer is no record.
inline constexpr std::size_t kMaxKeptRecordBytes = 4096;

struct KeptRecord {
  std::string url;  // UTF-8
  // The validators the server gave with the file: a strong ETag, and the Last-Modified date;
  // either may be empty, not both.
  std::string etag;
  std::string lastModified;
  std::uint64_t size = 0;
  std::string digest;  // BLAKE2b-256 of the file, in hexadecimal
};

// What is kept of an address: the file a download put in place, or the start of a broken one.
enum class Kept { kCopy, kPart };

// The name of what is kept of url in Temp ("ferrovan-kept.NAME.HASH.copy", or ".part": the
// fetched file's name and 16 hexadecimal digits of a digest of the whole address); its record is
// that name + ".record".
std::string KeptCopyName(const wchar_t* url, Kept kind = Kept::kCopy);

std::string FormatKeptRecord(const KeptRecord& record);
// Strict: the lines FormatKeptRecord writes, in its order, and nothing else.
bool ParseKeptRecord(std::string_view text, KeptRecord& record);

// Each host's kept_copies.cpp: forgets what is kept of url, of the one kind or of both.
void DropKeptCopy(const wchar_t* url, Kept kind);
void DropKeptCopy(const wchar_t* url);

// Runs fetch with url's kept copy and part allowed (fetch(true, took) sets took when it failed on
// one), and when that failed on what was kept, which would be taken again at every try (the
// server called the copy current, but it no longer hashed as recorded, or content refused the
// copy or the file completed from a part), drops both and runs fetch once more without them,
// content started again.
HRESULT FetchAgainWithoutKeptCopy(const wchar_t* url, DownloadContentSink* content,
                                  const std::function<HRESULT(bool useKept, bool& took)>& fetch);

// The digest that a record holds, taken from a file's bytes in order.
class KeptDigest {
 public:
  KeptDigest();
  void Add(std::span<const std::uint8_t> bytes);
  std::string Hex();

 private:
  crypto_generichash_state state_;
};

}  // namespace platform
