#include "platform/common/kept_copies.h"

#include <cstring>

#include "platform/common/cache_file_name.h"
#include "platform/host.h"

namespace platform {
namespace {

constexpr std::size_t kDigestBytes = 32;
constexpr std::string_view kFirstLine = "ferrovan-kept 1\n";

// A value that fits in one line of the record.
bool OneLine(std::string_view value) {
  return value.find('\n') == std::string_view::npos && value.find('\r') == std::string_view::npos;
}

// Takes "name value\n" off the front of text.
bool TakeLine(std::string_view& text, std::string_view name, std::string& value) {
  if (text.size() <= name.size() || text.compare(0, name.size(), name) != 0 ||
      text[name.size()] != ' ') {
    return false;
  }
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) {
    return false;
  }
  value = std::string(text.substr(name.size() + 1, end - name.size() - 1));
  text.remove_prefix(end + 1);
  return OneLine(value);
}

}  // namespace

std::string KeptCopyName(const wchar_t* url, Kept kind) {
  // The file's name for a reader, and a digest of the whole address, so that two addresses never
  // share a copy, and no copy's name is another's record or a new link.
  const std::string address = WideToUtf8(url);
  std::uint8_t digest[8] = {};
  // libsodium is set up before any other of its calls (safe to repeat). Were that to fail, names
  // would clash, which the record's address, compared whole, still tells apart.
  if (sodium_init() >= 0) {
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const std::uint8_t*>(address.data()),
                       address.size(), nullptr, 0);
  }
  char hex[2 * sizeof digest + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return kKeptCopyPrefix + CacheFileNameFor(url) + "." + hex +
         (kind == Kept::kCopy ? ".copy" : ".part");
}

std::string FormatKeptRecord(const KeptRecord& record) {
  if (!OneLine(record.url) || !OneLine(record.etag) || !OneLine(record.lastModified) ||
      !OneLine(record.digest)) {
    return {};
  }
  std::string text(kFirstLine);
  text += "url " + record.url + "\n";
  text += "etag " + record.etag + "\n";
  text += "modified " + record.lastModified + "\n";
  text += "size " + std::to_string(record.size) + "\n";
  text += "digest " + record.digest + "\n";
  return text;
}

bool ParseKeptRecord(std::string_view text, KeptRecord& record) {
  if (text.size() > kMaxKeptRecordBytes || !text.starts_with(kFirstLine)) {
    return false;
  }
  text.remove_prefix(kFirstLine.size());
  std::string size;
  if (!TakeLine(text, "url", record.url) || !TakeLine(text, "etag", record.etag) ||
      !TakeLine(text, "modified", record.lastModified) || !TakeLine(text, "size", size) ||
      !TakeLine(text, "digest", record.digest) || !text.empty()) {
    return false;
  }
  if (record.url.empty() || (record.etag.empty() && record.lastModified.empty()) ||
      record.digest.size() != 2 * kDigestBytes || size.empty() || size.size() > 19 ||
      (size.size() > 1 && size[0] == '0')) {
    return false;
  }
  record.size = 0;
  for (char c : size) {
    if (c < '0' || c > '9') {
      return false;
    }
    record.size = record.size * 10 + static_cast<std::uint64_t>(c - '0');
  }
  for (char c : record.digest) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

HRESULT FetchAgainWithoutKeptCopy(const wchar_t* url, DownloadContentSink* content,
                                  const std::function<HRESULT(bool useKept, bool& took)>& fetch) {
  bool took = false;
  HRESULT result = fetch(true, took);
  if (result != S_OK && took) {
    DropKeptCopy(url);
    if (content == nullptr || content->Restart()) {
      result = fetch(false, took);
    }
  }
  return result;
}

KeptDigest::KeptDigest() {
  // sodium_init is safe to call more than once and from any thread.
  if (sodium_init() < 0) {
    std::memset(&state_, 0, sizeof state_);
  }
  crypto_generichash_init(&state_, nullptr, 0, kDigestBytes);
}

void KeptDigest::Add(std::span<const std::uint8_t> bytes) {
  crypto_generichash_update(&state_, bytes.data(), bytes.size());
}

std::string KeptDigest::Hex() {
  std::uint8_t digest[kDigestBytes];
  crypto_generichash_final(&state_, digest, kDigestBytes);
  char hex[2 * kDigestBytes + 1];
  sodium_bin2hex(hex, sizeof hex, digest, kDigestBytes);
  return hex;
}

}  // namespace platform
