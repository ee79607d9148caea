// The publisher's signatures in the format of the minisign tool: its public keys and its
// detached signatures of files in the pre-hashed form (Ed25519 over the file's BLAKE2b-512),
// parsed strictly and checked with libsodium.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr std::size_t MINISIGN_KEY_ID_BYTES = 8;
inline constexpr std::size_t MINISIGN_PUBLIC_KEY_BYTES = 32;
inline constexpr std::size_t MINISIGN_SIGNATURE_BYTES = 64;
// minisign's own bound on a comment.
inline constexpr std::size_t MINISIGN_COMMENT_BYTES = 1024;
// The largest signature file taken: its four lines with both comments at their longest.
inline constexpr std::size_t MINISIGN_MAX_SIGNATURE_FILE = 4096;
// The most release keys a loader trusts at once (an old and a new one, while a key is rotated).
inline constexpr std::size_t MAX_RELEASE_KEYS = 8;
// A file's BLAKE2b-512 digest, which the pre-hashed signature signs.
inline constexpr std::size_t FILE_DIGEST_BYTES = 64;

struct MinisignKey {
  std::uint8_t keyId[MINISIGN_KEY_ID_BYTES];
  std::uint8_t publicKey[MINISIGN_PUBLIC_KEY_BYTES];
};

struct MinisignSignature {
  std::uint8_t keyId[MINISIGN_KEY_ID_BYTES];
  std::uint8_t signature[MINISIGN_SIGNATURE_BYTES];
  char trustedComment[MINISIGN_COMMENT_BYTES];
  std::size_t trustedCommentLength;
  std::uint8_t globalSignature[MINISIGN_SIGNATURE_BYTES];
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
                             std::span<const std::uint8_t, FILE_DIGEST_BYTES> digest,
                             std::string_view fileName);
