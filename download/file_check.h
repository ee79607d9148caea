// A fetched file checked against its line of the release manifest while its body streams: its
// size bounds the transfer, its BLAKE2b-512 is taken beside it, and the newest loader must also
// carry one of this loader's own release keys, so that a build without keys never takes over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include <sodium.h>

#include "download/release_manifest.h"
#include "platform/download.h"

// Whether this loader was built with release keys: then every file it fetches is checked.
bool ReleaseKeysBuiltIn();

// A file's BLAKE2b-512, taken while its body streams.
class FileDigest {
 public:
  FileDigest();
  void Add(std::span<const std::uint8_t> bytes);
  // Ends the digest; called once, after the whole body.
  void Finish(std::uint8_t (&digest)[kFileDigestBytes]);

 private:
  crypto_generichash_state state_;
};

// Finds any of a few fixed texts in bytes that arrive in pieces, also across two pieces.
class StreamSearch {
 public:
  static constexpr std::size_t kMaxTexts = kMaxReleaseKeys;
  static constexpr std::size_t kMaxTextBytes = 64;
  // Texts longer than kMaxTextBytes, or past kMaxTexts, are never found.
  void Add(std::string_view text);
  void Take(std::span<const std::uint8_t> bytes);
  bool Found() const { return found_; }
  // Forgets the bytes seen, keeping the texts.
  void Restart() {
    tailLength_ = 0;
    found_ = false;
  }

 private:
  bool Search(std::string_view haystack);

  std::string_view texts_[kMaxTexts];
  std::size_t count_ = 0;
  std::size_t longest_ = 0;
  char tail_[kMaxTextBytes];  // the last bytes seen, for a text that spans two pieces
  std::size_t tailLength_ = 0;
  bool found_ = false;
};

class ReleaseFileCheck final : public platform::DownloadContentSink {
 public:
  enum class Verdict { Pending, Matches, DiffersFromRelease, LacksReleaseKeys };

  // mustCarryKeys: the file is a loader that must carry one of this loader's keys.
  ReleaseFileCheck(const ReleaseFileLine& line, bool mustCarryKeys);
  std::uint64_t MaxBytes() const override { return expectedSize_; }
  bool Take(std::span<const std::uint8_t> bytes) override;
  void TooLarge() override { verdict_ = Verdict::DiffersFromRelease; }
  bool Restart() override;
  bool ProvesWholeFile(std::uint64_t& size) const override {
    size = expectedSize_;
    return true;
  }
  bool Complete() override;
  // Pending when the body never arrived whole (the transfer failed).
  Verdict Result() const { return verdict_; }

 private:
  std::uint64_t expectedSize_;
  std::uint8_t expectedDigest_[kFileDigestBytes];
  std::uint64_t received_ = 0;
  FileDigest digest_;
  bool mustCarryKeys_;
  StreamSearch keys_;
  Verdict verdict_ = Verdict::Pending;
};
