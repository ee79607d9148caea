#include "download/minisign.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <sodium.h>

#include "tests/support/minisign_maker.h"

namespace {

using testing_support::MakeReleaseKey;
using testing_support::ReleaseKey;
using testing_support::SignedLikeMinisign;
using testing_support::TrustedCommentFor;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

std::string Digest(const std::string& content) {
  std::string digest(kFileDigestBytes, '\0');
  crypto_generichash(reinterpret_cast<std::uint8_t*>(digest.data()), digest.size(),
                     reinterpret_cast<const std::uint8_t*>(content.data()), content.size(), nullptr,
                     0);
  return digest;
}

// A minisign line of base64 for bytes.
std::string Base64(const std::string& bytes) {
  std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                    bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  text.pop_back();
  return text;
}

std::string Decoded(const std::string& line) {
  std::string bytes(line.size(), '\0');
  std::size_t length = 0;
  sodium_base642bin(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size(), line.data(),
                    line.size(), nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL);
  bytes.resize(length);
  return bytes;
}

TEST(MinisignKeys, TakesOneOrMoreKeysAndNothingElse) {
  const ReleaseKey first = MakeReleaseKey();
  const ReleaseKey second = MakeReleaseKey();
  const std::vector<std::string> one = Lines(first.publicKeyText);
  std::string otherTag = Decoded(one[1]);
  otherTag[1] = 'D';
  struct Case {
    const char* what;
    std::string text;
    std::size_t keys;  // 0: refused
  } cases[] = {
      {"one key", first.publicKeyText, 1},
      {"two keys, as two files joined", first.publicKeyText + second.publicKeyText, 2},
      {"line ends of another system", one[0] + "\r\n" + one[1] + "\r\n", 1},
      {"no line end at the end", one[0] + "\n" + one[1], 1},
      {"nothing", "", 0},
      {"a comment alone", one[0] + "\n", 0},
      {"no comment", one[1] + "\n", 0},
      {"a blank line after", first.publicKeyText + "\n", 0},
      {"another comment prefix", "comment: x\n" + one[1] + "\n", 0},
      {"a character outside base64", one[0] + "\n" + one[1].substr(0, 55) + "*\n", 0},
      // libsodium's own decoder took this one (found by fuzzing).
      {"a byte outside ASCII",
       one[0] + "\n" + one[1].substr(0, 44) + "\xC8" + one[1].substr(45) + "\n", 0},
      {"a key too short", one[0] + "\n" + one[1].substr(0, 52) + "\n", 0},
      {"a key too long", one[0] + "\n" + one[1] + "AAAA\n", 0},
      {"another algorithm", one[0] + "\n" + Base64(otherTag) + "\n", 0},
      {"a blank inside the key",
       one[0] + "\n" + one[1].substr(0, 20) + " " + one[1].substr(20) + "\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MinisignKey keys[kMaxReleaseKeys];
    std::size_t count = 99;
    EXPECT_EQ(ParseMinisignKeys(c.text, keys, count), c.keys > 0);
    EXPECT_EQ(count, c.keys);
  }
  MinisignKey keys[kMaxReleaseKeys];
  std::size_t count = 0;
  ASSERT_TRUE(ParseMinisignKeys(first.publicKeyText, keys, count));
  EXPECT_EQ(std::memcmp(keys[0].keyId, first.keyId, sizeof first.keyId), 0);

  // More keys than a loader holds.
  std::string many;
  for (std::size_t i = 0; i <= kMaxReleaseKeys; ++i) {
    many += first.publicKeyText;
  }
  EXPECT_FALSE(ParseMinisignKeys(many, keys, count));
}

TEST(MinisignSignatures, TakeTheToolsFourLinesInThePreHashedFormOnly) {
  const ReleaseKey key = MakeReleaseKey();
  const std::string good = SignedLikeMinisign(key, "content", TrustedCommentFor("File.dll"));
  const std::vector<std::string> lines = Lines(good);
  ASSERT_EQ(lines.size(), 4u);
  auto with = [&](std::size_t index, const std::string& line) {
    std::vector<std::string> changed = lines;
    changed[index] = line;
    return Joined(changed);
  };
  std::string legacy = Decoded(lines[1]);
  legacy[1] = 'd';
  // The global signature's last group holds one byte in two characters: the second one's low
  // four bits are unused, and zero in a canonical text.
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string nonCanonical = lines[3];
  char& unused = nonCanonical[nonCanonical.size() - 3];
  unused = kAlphabet[(std::string_view(kAlphabet).find(unused)) ^ 1];
  struct Case {
    const char* what;
    std::string text;
    bool taken;
  } cases[] = {
      {"as written", good, true},
      {"line ends of another system",
       lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n" + lines[3] + "\r\n", true},
      {"no line end at the end", good.substr(0, good.size() - 1), true},
      {"an empty trusted comment", with(2, "trusted comment: "), true},
      {"the legacy form", with(1, Base64(legacy)), false},
      {"a signature cut short", with(1, lines[1].substr(0, 96)), false},
      {"a global signature cut short", with(3, lines[3].substr(0, 84)), false},
      {"a character outside base64", with(1, lines[1].substr(0, 50) + "!" + lines[1].substr(51)),
       false},
      {"bits after the padding", with(3, nonCanonical), false},
      {"no untrusted comment", with(0, "untrusted: x"), false},
      {"no trusted comment", with(2, "trusted: x"), false},
      {"a trusted comment too long", with(2, "trusted comment: " + std::string(1025, 'x')), false},
      {"a control character in a comment",
       with(2,
            "trusted comment: a\x01"
            "b"),
       false},
      {"a fifth line", good + "\n", false},
      {"three lines", Joined({lines[0], lines[1], lines[2]}), false},
      {"nothing", "", false},
      {"larger than a signature file can be", good + std::string(5000, '\n'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MinisignSignature signature;
    EXPECT_EQ(ParseMinisignSignature(c.text, signature), c.taken);
  }
}

TEST(MinisignVerification, HoldsOnlyForTheSignedFileUnderItsNameWithATrustedKey) {
  const ReleaseKey publisher = MakeReleaseKey();
  const ReleaseKey rotated = MakeReleaseKey();
  const ReleaseKey stranger = MakeReleaseKey();
  MinisignKey keys[kMaxReleaseKeys];
  std::size_t count = 0;
  ASSERT_TRUE(ParseMinisignKeys(rotated.publicKeyText + publisher.publicKeyText, keys, count));
  const std::string content = "the client's library";

  struct Case {
    const char* what;
    std::string signatureText;
    std::string signedContent;
    std::string name;
    bool holds;
  } cases[] = {
      {"as signed", SignedLikeMinisign(publisher, content, TrustedCommentFor("Lib.dll")), content,
       "Lib.dll", true},
      {"by the second trusted key",
       SignedLikeMinisign(rotated, content, TrustedCommentFor("Lib.dll")), content, "Lib.dll",
       true},
      {"only the name", SignedLikeMinisign(publisher, content, "file:Lib.dll"), content, "Lib.dll",
       true},
      {"a file that differs by one byte",
       SignedLikeMinisign(publisher, content, TrustedCommentFor("Lib.dll")), content + "!",
       "Lib.dll", false},
      {"a key the loader does not trust",
       SignedLikeMinisign(stranger, content, TrustedCommentFor("Lib.dll")), content, "Lib.dll",
       false},
      {"another file's name",
       SignedLikeMinisign(publisher, content, TrustedCommentFor("Other.dll")), content, "Lib.dll",
       false},
      {"the name in other letter case",
       SignedLikeMinisign(publisher, content, TrustedCommentFor("lib.dll")), content, "Lib.dll",
       false},
      {"the name as the start of a longer one",
       SignedLikeMinisign(publisher, content, TrustedCommentFor("Lib.dll.old")), content, "Lib.dll",
       false},
      {"no name", SignedLikeMinisign(publisher, content, "timestamp:1700000000"), content,
       "Lib.dll", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MinisignSignature signature;
    ASSERT_TRUE(ParseMinisignSignature(c.signatureText, signature));
    const std::string digest = Digest(c.signedContent);
    EXPECT_EQ(VerifyMinisignSignature(
                  signature, std::span<const MinisignKey>(keys, count),
                  std::span<const std::uint8_t, kFileDigestBytes>(
                      reinterpret_cast<const std::uint8_t*>(digest.data()), kFileDigestBytes),
                  c.name),
              c.holds);
  }

  // A trusted comment changed after signing breaks the global signature.
  std::vector<std::string> lines =
      Lines(SignedLikeMinisign(publisher, content, TrustedCommentFor("Other.dll")));
  lines[2] = "trusted comment: " + TrustedCommentFor("Lib.dll");
  MinisignSignature forged;
  ASSERT_TRUE(ParseMinisignSignature(Joined(lines), forged));
  const std::string digest = Digest(content);
  EXPECT_FALSE(VerifyMinisignSignature(
      forged, std::span<const MinisignKey>(keys, count),
      std::span<const std::uint8_t, kFileDigestBytes>(
          reinterpret_cast<const std::uint8_t*>(digest.data()), kFileDigestBytes),
      "Lib.dll"));
}

}  // namespace
