#include "tests/support/minisign_maker.h"

#include <cstring>
#include <stdexcept>

#include <sodium.h>

namespace testing_support {
namespace {

std::string Base64(const std::uint8_t* bytes, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);
  return text;
}

}  // namespace

ReleaseKey MakeReleaseKey() {
  if (sodium_init() < 0) {
    throw std::runtime_error("libsodium cannot start");
  }
  ReleaseKey key{};
  std::uint8_t publicKey[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_keypair(publicKey, key.secretKey);
  randombytes_buf(key.keyId, sizeof key.keyId);
  std::uint8_t line[2 + 8 + crypto_sign_PUBLICKEYBYTES] = {'E', 'd'};
  std::memcpy(line + 2, key.keyId, 8);
  std::memcpy(line + 10, publicKey, sizeof publicKey);
  key.publicKeyText =
      "untrusted comment: minisign public key for a test\n" + Base64(line, sizeof line) + "\n";
  return key;
}

std::string ManifestLine(const std::string& name, const std::string& content) {
  if (sodium_init() < 0) {
    throw std::runtime_error("libsodium cannot start");
  }
  std::uint8_t digest[64];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const std::uint8_t*>(content.data()),
                     content.size(), nullptr, 0);
  char hex[2 * sizeof digest + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return "file " + name + " " + std::to_string(content.size()) + " " + hex;
}

std::string TrustedCommentFor(const std::string& fileName) {
  return "timestamp:1700000000\tfile:" + fileName + "\thashed";
}

std::string SignedLikeMinisign(const ReleaseKey& key, const std::string& content,
                               const std::string& trustedComment) {
  std::uint8_t digest[crypto_generichash_BYTES_MAX];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const std::uint8_t*>(content.data()),
                     content.size(), nullptr, 0);
  std::uint8_t line[2 + 8 + crypto_sign_BYTES] = {'E', 'D'};
  std::memcpy(line + 2, key.keyId, 8);
  crypto_sign_detached(line + 10, nullptr, digest, sizeof digest, key.secretKey);
  std::string global(line + 10, line + 10 + crypto_sign_BYTES);
  global += trustedComment;
  std::uint8_t globalSignature[crypto_sign_BYTES];
  crypto_sign_detached(globalSignature, nullptr,
                       reinterpret_cast<const std::uint8_t*>(global.data()), global.size(),
                       key.secretKey);
  return "untrusted comment: signature from minisign secret key\n" + Base64(line, sizeof line) +
         "\ntrusted comment: " + trustedComment + "\n" +
         Base64(globalSignature, sizeof globalSignature) + "\n";
}

}  // namespace testing_support
