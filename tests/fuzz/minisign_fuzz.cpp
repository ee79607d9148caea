// The minisign key and signature parsers against a plain reading of the formats written here
// with a base64 decoder of its own: both must take exactly the same texts, to the same fields.
// Input: any bytes, read as a key file and as a signature file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/minisign.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Standard base64 with its padding, canonical (unused bits zero), as the tool writes it.
std::optional<std::string> DecodeBase64(std::string_view text) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.empty() || text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::size_t padding = 0;
  while (padding < 2 && text[text.size() - 1 - padding] == '=') {
    ++padding;
  }
  std::string bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    const std::size_t value = kAlphabet.find(text[i]);
    if (value == std::string_view::npos) {
      return std::nullopt;
    }
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  if ((bits & ((1u << count) - 1)) != 0) {
    return std::nullopt;
  }
  return bytes;
}

// The lines of text without their line ends; the last may lack its line feed.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

std::optional<std::string_view> Comment(std::string_view line, std::string_view prefix) {
  if (line.substr(0, prefix.size()) != prefix || line.size() - prefix.size() > 1024) {
    return std::nullopt;
  }
  for (const char c : line.substr(prefix.size())) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
      return std::nullopt;
    }
  }
  return line.substr(prefix.size());
}

std::optional<std::string> Tagged(std::string_view line, std::size_t size, const char* tag) {
  std::optional<std::string> bytes = DecodeBase64(line);
  if (!bytes || bytes->size() != size || bytes->compare(0, 2, tag) != 0) {
    return std::nullopt;
  }
  return bytes;
}

void CheckKeys(std::string_view text) {
  MinisignKey keys[kMaxReleaseKeys];
  std::size_t count = 0;
  const bool taken = ParseMinisignKeys(text, keys, count);

  const std::vector<std::string_view> lines = Lines(text);
  bool expected = !lines.empty() && lines.size() % 2 == 0 && lines.size() / 2 <= kMaxReleaseKeys;
  std::vector<std::string> decoded;
  for (std::size_t i = 0; expected && i < lines.size(); i += 2) {
    const std::optional<std::string> key = Tagged(lines[i + 1], 42, "Ed");
    expected = Comment(lines[i], "untrusted comment: ").has_value() && key.has_value();
    if (key) {
      decoded.push_back(*key);
    }
  }
  fuzzing::Check(taken == expected, taken ? "took keys that are not" : "refused good keys",
                 fuzzing::Wide(text));
  if (taken) {
    fuzzing::Check(count == decoded.size(), "took another number of keys");
    for (std::size_t i = 0; i < count; ++i) {
      fuzzing::Check(std::memcmp(keys[i].keyId, decoded[i].data() + 2, 8) == 0 &&
                         std::memcmp(keys[i].publicKey, decoded[i].data() + 10, 32) == 0,
                     "took a key other than the one written");
    }
  }
}

void CheckSignature(std::string_view text, const MinisignKey& key) {
  MinisignSignature signature;
  const bool taken = ParseMinisignSignature(text, signature);

  const std::vector<std::string_view> lines = Lines(text);
  std::optional<std::string> body, global;
  std::optional<std::string_view> trusted;
  const bool expected = text.size() <= kMinisignMaxSignatureFile && lines.size() == 4 &&
                        Comment(lines[0], "untrusted comment: ") &&
                        (body = Tagged(lines[1], 74, "ED")) &&
                        (trusted = Comment(lines[2], "trusted comment: ")) &&
                        (global = DecodeBase64(lines[3])) && global->size() == 64;
  fuzzing::Check(taken == expected,
                 taken ? "took a signature that is not" : "refused a good signature",
                 fuzzing::Wide(text));
  if (!taken) {
    return;
  }
  fuzzing::Check(
      std::memcmp(signature.keyId, body->data() + 2, 8) == 0 &&
          std::memcmp(signature.signature, body->data() + 10, 64) == 0 &&
          std::memcmp(signature.globalSignature, global->data(), 64) == 0 &&
          std::string_view(signature.trustedComment, signature.trustedCommentLength) == *trusted,
      "took other fields than those written");
  // Whatever it holds, a check against a key that signed nothing of it never holds.
  const std::uint8_t digest[kFileDigestBytes] = {};
  fuzzing::Check(!VerifyMinisignSignature(signature, std::span<const MinisignKey>(&key, 1), digest,
                                          "File.dll"),
                 "a made-up signature held");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2 * kMinisignMaxSignatureFile) {
    return -1;
  }
  const std::string_view text = fuzzing::Bytes(data, size);
  CheckKeys(text);
  // A key whose id is the signature's own, so that the check gets to the curve.
  MinisignKey key{};
  MinisignSignature peek;
  if (ParseMinisignSignature(text, peek)) {
    std::memcpy(key.keyId, peek.keyId, sizeof key.keyId);
    key.publicKey[0] = 1;
  }
  CheckSignature(text, key);
  return 0;
}
