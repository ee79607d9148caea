// Signed releases: with the publisher's keys built into the loader, a file it fetches is used
// only with a valid signature of its own, fetched from beside it on the download service as
// NAME.minisig. Without keys, nothing of this happens.
#pragma once

#include <cstdint>
#include <span>

#include <sodium.h>

#include "download/minisign.h"
#include "loader/loader_context.h"
#include "platform/download.h"

// Whether this loader was built with release keys: then every file it fetches must be signed.
bool ReleaseKeysBuiltIn();

// A file's BLAKE2b-512, taken while its body streams.
class FileDigest final : public platform::DownloadContentSink {
 public:
  FileDigest();
  bool Take(std::span<const std::uint8_t> bytes) override;
  // Ends the digest; called once, after the whole body.
  void Finish(std::uint8_t (&digest)[FILE_DIGEST_BYTES]);

 private:
  crypto_generichash_state state_;
};

// Fetches remoteName's signature (remoteName followed by ".minisig") from the download service
// and checks it against the digest of the fetched file, with the built-in keys: true when the
// file may be used. The signature's own copy is removed either way.
bool VerifyFileSignature(LoaderContext* context, const wchar_t* remoteName,
                         const std::uint8_t (&digest)[FILE_DIGEST_BYTES]);

// The text of a file that failed its check, for statusMessage.
inline constexpr const wchar_t* UNVERIFIED_FILE_TEXT = L"Unable to verify file: \r\n";
