#include "download/file_check.h"

#include <algorithm>
#include <cstring>

#include "download/release_keys.h"

bool ReleaseKeysBuiltIn() {
  return !BuiltInReleaseKeys().empty();
}

FileDigest::FileDigest() {
  // sodium_init is safe to call more than once and from any thread.
  if (sodium_init() < 0) {
    std::memset(&state_, 0, sizeof state_);
  }
  crypto_generichash_init(&state_, nullptr, 0, kFileDigestBytes);
}

void FileDigest::Add(std::span<const std::uint8_t> bytes) {
  crypto_generichash_update(&state_, bytes.data(), bytes.size());
}

void FileDigest::Finish(std::uint8_t (&digest)[kFileDigestBytes]) {
  crypto_generichash_final(&state_, digest, kFileDigestBytes);
}

void StreamSearch::Add(std::string_view text) {
  if (count_ < kMaxTexts && !text.empty() && text.size() <= kMaxTextBytes) {
    texts_[count_++] = text;
    longest_ = std::max(longest_, text.size());
  }
}

bool StreamSearch::Search(std::string_view haystack) {
  for (std::size_t i = 0; i < count_; ++i) {
    if (haystack.find(texts_[i]) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

void StreamSearch::Take(std::span<const std::uint8_t> bytes) {
  if (found_ || count_ == 0 || bytes.empty()) {
    return;
  }
  const std::string_view piece(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // A text that begins in the tail of what came before and ends in this piece.
  char seam[2 * kMaxTextBytes];
  const std::size_t head = std::min(piece.size(), longest_ - 1);
  std::memcpy(seam, tail_, tailLength_);
  std::memcpy(seam + tailLength_, piece.data(), head);
  found_ = Search({seam, tailLength_ + head}) || Search(piece);
  // Keep the last longest_ - 1 bytes of everything seen.
  const std::size_t keep = longest_ - 1;
  if (piece.size() >= keep) {
    std::memcpy(tail_, piece.data() + piece.size() - keep, keep);
    tailLength_ = keep;
  } else {
    const std::size_t fromTail = std::min(tailLength_, keep - piece.size());
    std::memmove(tail_, tail_ + tailLength_ - fromTail, fromTail);
    std::memcpy(tail_ + fromTail, piece.data(), piece.size());
    tailLength_ = fromTail + piece.size();
  }
}

namespace {

// The key lines ("RW" and 54 more characters) of the built-in keys text: what a loader that
// trusts a key carries of it.
void AddKeyLines(StreamSearch& search) {
  std::string_view text = BuiltInReleaseKeys();
  bool keyLine = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (keyLine) {
      search.Add(line);
    }
    keyLine = !keyLine;
  }
}

}  // namespace

ReleaseFileCheck::ReleaseFileCheck(const ReleaseFileLine& line, bool mustCarryKeys)
    : expectedSize_(line.size), mustCarryKeys_(mustCarryKeys) {
  std::memcpy(expectedDigest_, line.digest, kFileDigestBytes);
  if (mustCarryKeys) {
    AddKeyLines(keys_);
  }
}

bool ReleaseFileCheck::Restart() {
  received_ = 0;
  digest_ = FileDigest();
  keys_.Restart();
  verdict_ = Verdict::Pending;
  return true;
}

bool ReleaseFileCheck::Take(std::span<const std::uint8_t> bytes) {
  received_ += bytes.size();
  digest_.Add(bytes);
  if (mustCarryKeys_) {
    keys_.Take(bytes);
  }
  return received_ <= expectedSize_;
}

bool ReleaseFileCheck::Complete() {
  std::uint8_t digest[kFileDigestBytes];
  digest_.Finish(digest);
  if (received_ != expectedSize_ || sodium_memcmp(digest, expectedDigest_, kFileDigestBytes) != 0) {
    verdict_ = Verdict::DiffersFromRelease;
  } else if (mustCarryKeys_ && !keys_.Found()) {
    verdict_ = Verdict::LacksReleaseKeys;
  } else {
    verdict_ = Verdict::Matches;
  }
  return verdict_ == Verdict::Matches;
}
