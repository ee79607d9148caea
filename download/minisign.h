// The publisher's signatures in the format of the minisign tool: its public keys and its
// detached signatures of files in the pre-hashed form (Ed25519 over the file's BLAKE2b-512),
// parsed strictly and checked with libsodium.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr std::size_t kMinisignKeyIdBytes = 8;
inline constexpr std::size_t kMinisignPublicKeyBytes = 32;
inline constexpr std::size_t kMinisignSignatureBytes = 64;
// minisign's own bound on a comment.
inline constexpr std::size_t kMinisignCommentBytes = 1024;
// The largest signature file taken: its four lines with both comments at their longest.
inline constexpr std::size_t kMinisignMaxSignatureFile = 4096;
// The most release keys a loader trusts at once (an old and a new one, while a key is rotated).
inline constexpr std::size_t kMaxReleaseKeys = 8;
// A file's BLAKE2b-512 digest, which the pre-hashed signature signs.
inline constexpr std::size_t kFileDigestBytes = 64;

struct MinisignKey {
  std::uint8_t keyId[kMinisignKeyIdBytes];
  std::uint8_t publicKey[kMinisignPublicKeyBytes];
};

struct MinisignSignature {
  std::uint8_t keyId[kMinisignKeyIdBytes];
  std::uint8_t signature[kMinisignSignatureBytes];
  char trustedComment[kMinisignCommentBytes];
  std::size_t trustedCommentLength;
  std::uint8_t globalSignature[kMinisignSignatureBytes];
};

// One or more public keys, each an "untrusted comment: " line followed by the key's line, every
// line ended by a line feed (or a carriage return and a line feed), nothing else. False, with no
// key taken, for anything else or more keys than fit.
bool ParseMinisignKeys(std::string_view text, std::span<MinisignKey> keys, std::size_t& count);

// A signature file: "untrusted comment: ...", the pre-hashed signature ("ED"), "trusted comment:
// ...", the global signature, each on its line. False for anything else, the legacy form ("Ed")
// included.
bool ParseMinisignSignature(std::string_view text, MinisignSignature& signature);

// Whether signature signs a file of this digest with one of keys (the one its key id names),
// its global signature holds over its trusted comment, and that comment names the file: one of
// its tab-separated fields is "file:" followed by fileName exactly.
bool VerifyMinisignSignature(const MinisignSignature& signature, std::span<const MinisignKey> keys,
                             std::span<const std::uint8_t, kFileDigestBytes> digest,
                             std::string_view fileName);
