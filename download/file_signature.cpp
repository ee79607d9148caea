#include "download/file_signature.h"

#include <cstring>
#include <span>
#include <string_view>

#include "download/release_keys.h"
#include "platform/files.h"
#include "platform/text.h"
#include "settings/download_url.h"

namespace {

// The signature file as it arrives, kept whole as long as it is no larger than a signature
// file can be; a larger one ends its download.
class SignatureCopy final : public platform::DownloadContentSink {
 public:
  bool Take(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() > sizeof text_ - length_) {
      return false;
    }
    std::memcpy(text_ + length_, bytes.data(), bytes.size());
    length_ += bytes.size();
    return true;
  }
  std::string_view Text() const { return {text_, length_}; }

 private:
  char text_[MINISIGN_MAX_SIGNATURE_FILE];
  std::size_t length_ = 0;
};

}  // namespace

bool ReleaseKeysBuiltIn() {
  return !BuiltInReleaseKeys().empty();
}

FileDigest::FileDigest() {
  // sodium_init is safe to call more than once and from any thread.
  if (sodium_init() < 0) {
    std::memset(&state_, 0, sizeof state_);
  }
  crypto_generichash_init(&state_, nullptr, 0, FILE_DIGEST_BYTES);
}

bool FileDigest::Take(std::span<const std::uint8_t> bytes) {
  return crypto_generichash_update(&state_, bytes.data(), bytes.size()) == 0;
}

void FileDigest::Finish(std::uint8_t (&digest)[FILE_DIGEST_BYTES]) {
  crypto_generichash_final(&state_, digest, FILE_DIGEST_BYTES);
}

bool VerifyFileSignature(LoaderContext* context, const wchar_t* remoteName,
                         const std::uint8_t (&digest)[FILE_DIGEST_BYTES]) {
  MinisignKey keys[MAX_RELEASE_KEYS];
  std::size_t keyCount = 0;
  if (!ParseMinisignKeys(BuiltInReleaseKeys(), keys, keyCount)) {
    return false;
  }
  // The name as the publisher's tool wrote it into the trusted comment.
  char name[MAX_PATH * 4];
  wchar_t signatureName[MAX_PATH];
  wchar_t url[MAX_PATH];
  if (!platform::WideToUtf8(name, remoteName) ||
      !platform::FormatText(signatureName, L"%s.minisig", remoteName) ||
      !BuildDownloadUrl(context, url, signatureName)) {
    return false;
  }
  SignatureCopy copy;
  wchar_t copyPath[MAX_PATH];
  copyPath[0] = L'\0';
  const bool fetched =
      platform::Downloads().DownloadToCacheFile(url, copyPath, nullptr, &copy) == S_OK;
  if (copyPath[0] != L'\0') {
    platform::Files().DeleteFile(copyPath);
  }
  MinisignSignature signature;
  return fetched && ParseMinisignSignature(copy.Text(), signature) &&
         VerifyMinisignSignature(signature, std::span<const MinisignKey>(keys, keyCount), digest,
                                 name);
}
