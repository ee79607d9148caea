// Release keys and signatures in minisign's formats, made with libsodium as the tool makes
// them, for unit tests that run where the tool does not (the Windows tests) or that need each
// byte under their control. The end-to-end tests sign with the tool itself.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

struct ReleaseKey {
  std::string publicKeyText;  // as in a minisign.pub file
  std::uint8_t keyId[8];
  std::uint8_t secretKey[64];
};

// A new key pair, made when the test runs.
ReleaseKey MakeReleaseKey();

// The NAME.minisig text for content: pre-hashed, with this trusted comment ("timestamp:...
// \tfile:NAME\thashed" as the tool writes it when none is given).
std::string SignedLikeMinisign(const ReleaseKey& key, const std::string& content,
                               const std::string& trustedComment);
// The tool's own trusted comment for a file of that name.
std::string TrustedCommentFor(const std::string& fileName);

// A release manifest's line for a file of that name and content, as the publisher's script
// writes it (size, BLAKE2b-512 in lowercase hex), without its line end.
std::string ManifestLine(const std::string& name, const std::string& content);

}  // namespace testing_support
