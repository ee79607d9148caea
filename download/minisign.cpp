#include "download/minisign.h"

#include <cstring>

#include <sodium.h>

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
// The algorithm tags: a key is an Ed25519 key ("Ed"); a signature is Ed25519 over the file's
// BLAKE2b-512 ("ED"), never over the file itself (minisign's legacy "Ed").
constexpr char kKeyAlgorithm[2] = {'E', 'd'};
constexpr char kPrehashedAlgorithm[2] = {'E', 'D'};
constexpr std::size_t kTagBytes = 2;
constexpr std::size_t kKeyLineBytes = kTagBytes + kMinisignKeyIdBytes + kMinisignPublicKeyBytes;
constexpr std::size_t kSignatureLineBytes =
    kTagBytes + kMinisignKeyIdBytes + kMinisignSignatureBytes;

// Takes the next line off text, without its line end ("\n" or "\r\n"). The last line may lack
// its line feed; false when nothing is left.
bool NextLine(std::string_view& text, std::string_view& line) {
  if (text.empty()) {
    return false;
  }
  const std::size_t end = text.find('\n');
  line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return true;
}

// A comment line: the prefix, then at most kMinisignCommentBytes of text with no control
// character but the tab.
bool CommentOf(std::string_view line, std::string_view prefix, std::string_view& comment) {
  if (!line.starts_with(prefix)) {
    return false;
  }
  comment = line.substr(prefix.size());
  if (comment.size() > kMinisignCommentBytes) {
    return false;
  }
  for (const char c : comment) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
      return false;
    }
  }
  return true;
}

// The value of a character of standard base64, or -1 for any other (the padding included).
int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') {
    return c - 'A';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 26;
  }
  if (c >= '0' && c <= '9') {
    return c - '0' + 52;
  }
  return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Exactly size bytes in standard base64, in groups of four characters, the last one padded with
// '=' as the tool writes it and with its unused bits zero; nothing else on the line.
bool DecodeBase64(std::string_view text, std::uint8_t* out, std::size_t size) {
  const std::size_t groups = (size + 2) / 3;
  if (text.size() != groups * 4) {
    return false;
  }
  const std::size_t padding = groups * 3 - size;  // 0, 1 or 2 '=' at the end
  std::size_t written = 0;
  for (std::size_t group = 0; group < groups; ++group) {
    const std::size_t last = group + 1 == groups ? padding : 0;
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const char c = text[group * 4 + i];
      if (i >= 4 - last) {
        if (c != '=') {
          return false;
        }
        bits <<= 6;
        continue;
      }
      const int value = Base64Value(c);
      if (value < 0) {
        return false;
      }
      bits = (bits << 6) | static_cast<std::uint32_t>(value);
    }
    // The bits that no byte takes must be zero: one text for each value.
    if ((last == 1 && (bits & 0xFF) != 0) || (last == 2 && (bits & 0xFFFF) != 0)) {
      return false;
    }
    for (std::size_t i = 0; i < 3 - last; ++i) {
      out[written++] = static_cast<std::uint8_t>(bits >> (16 - 8 * i));
    }
  }
  return written == size;
}

bool NamesFile(std::string_view comment, std::string_view fileName) {
  while (!comment.empty()) {
    const std::size_t tab = comment.find('\t');
    const std::string_view field = comment.substr(0, tab);
    if (field.size() == 5 + fileName.size() && field.starts_with("file:") &&
        field.substr(5) == fileName) {
      return true;
    }
    comment = tab == std::string_view::npos ? std::string_view() : comment.substr(tab + 1);
  }
  return false;
}

}  // namespace

bool ParseMinisignKeys(std::string_view text, std::span<MinisignKey> keys, std::size_t& count) {
  count = 0;
  std::size_t parsed = 0;
  std::string_view comment;
  std::string_view line;
  while (NextLine(text, line)) {
    std::uint8_t decoded[kKeyLineBytes];
    std::string_view keyLine;
    if (!CommentOf(line, kUntrustedPrefix, comment) || !NextLine(text, keyLine) ||
        !DecodeBase64(keyLine, decoded, sizeof decoded) ||
        std::memcmp(decoded, kKeyAlgorithm, kTagBytes) != 0 || parsed == keys.size()) {
      return false;
    }
    std::memcpy(keys[parsed].keyId, decoded + kTagBytes, kMinisignKeyIdBytes);
    std::memcpy(keys[parsed].publicKey, decoded + kTagBytes + kMinisignKeyIdBytes,
                kMinisignPublicKeyBytes);
    ++parsed;
  }
  count = parsed;
  return parsed > 0;
}

bool ParseMinisignSignature(std::string_view text, MinisignSignature& signature) {
  if (text.size() > kMinisignMaxSignatureFile) {
    return false;
  }
  std::string_view untrusted, signatureLine, trustedLine, globalLine, comment, trusted;
  std::uint8_t decoded[kSignatureLineBytes];
  if (!NextLine(text, untrusted) || !CommentOf(untrusted, kUntrustedPrefix, comment) ||
      !NextLine(text, signatureLine) || !DecodeBase64(signatureLine, decoded, sizeof decoded) ||
      std::memcmp(decoded, kPrehashedAlgorithm, kTagBytes) != 0 || !NextLine(text, trustedLine) ||
      !CommentOf(trustedLine, kTrustedPrefix, trusted) || !NextLine(text, globalLine) ||
      !DecodeBase64(globalLine, signature.globalSignature, kMinisignSignatureBytes) ||
      !text.empty()) {
    return false;
  }
  std::memcpy(signature.keyId, decoded + kTagBytes, kMinisignKeyIdBytes);
  std::memcpy(signature.signature, decoded + kTagBytes + kMinisignKeyIdBytes,
              kMinisignSignatureBytes);
  std::memcpy(signature.trustedComment, trusted.data(), trusted.size());
  signature.trustedCommentLength = trusted.size();
  return true;
}

bool VerifyMinisignSignature(const MinisignSignature& signature, std::span<const MinisignKey> keys,
                             std::span<const std::uint8_t, kFileDigestBytes> digest,
                             std::string_view fileName) {
  if (sodium_init() < 0 || signature.trustedCommentLength > kMinisignCommentBytes) {
    return false;
  }
  const MinisignKey* key = nullptr;
  for (const MinisignKey& candidate : keys) {
    if (std::memcmp(candidate.keyId, signature.keyId, kMinisignKeyIdBytes) == 0) {
      key = &candidate;
      break;
    }
  }
  if (key == nullptr || crypto_sign_verify_detached(signature.signature, digest.data(),
                                                    digest.size(), key->publicKey) != 0) {
    return false;
  }
  // The global signature covers the file's signature and the trusted comment together.
  std::uint8_t signedPart[kMinisignSignatureBytes + kMinisignCommentBytes];
  std::memcpy(signedPart, signature.signature, kMinisignSignatureBytes);
  std::memcpy(signedPart + kMinisignSignatureBytes, signature.trustedComment,
              signature.trustedCommentLength);
  if (crypto_sign_verify_detached(signature.globalSignature, signedPart,
                                  kMinisignSignatureBytes + signature.trustedCommentLength,
                                  key->publicKey) != 0) {
    return false;
  }
  return NamesFile(std::string_view(signature.trustedComment, signature.trustedCommentLength),
                   fileName);
}
