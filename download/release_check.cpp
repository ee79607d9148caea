#include "download/release_check.h"

#include <cstring>
#include <span>
#include <string_view>

#include "download/file_check.h"
#include "download/minisign.h"
#include "download/release_keys.h"
#include "loader/status_message.h"
#include "platform/clock.h"
#include "platform/download.h"
#include "platform/files.h"
#include "platform/text.h"
#include "settings/download_url.h"

namespace {

// A small file of the download service as it arrives, kept whole in buffer; a body larger than
// the buffer ends its download.
class TextCopy final : public platform::DownloadContentSink {
 public:
  explicit TextCopy(std::span<char> buffer) : buffer_(buffer) {}
  std::uint64_t MaxBytes() const override { return buffer_.size(); }
  void TooLarge() override { tooLarge_ = true; }
  bool Take(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() > buffer_.size() - length_) {
      return false;
    }
    std::memcpy(buffer_.data() + length_, bytes.data(), bytes.size());
    length_ += bytes.size();
    return true;
  }
  bool Restart() override {
    length_ = 0;
    return true;
  }
  std::string_view Text() const { return {buffer_.data(), length_}; }
  // Larger than such a file can be: no manifest or signature, whatever else it is.
  bool WasTooLarge() const { return tooLarge_; }

 private:
  std::span<char> buffer_;
  std::size_t length_ = 0;
  bool tooLarge_ = false;
};

// Fetches name from the download service into copy; its cache copy is removed either way.
bool FetchText(LoaderContext* context, const wchar_t* name, TextCopy& copy) {
  wchar_t url[MAX_PATH];
  if (!BuildDownloadUrl(context, url, name)) {
    return false;
  }
  wchar_t copyPath[MAX_PATH];
  copyPath[0] = L'\0';
  const bool fetched =
      platform::Downloads().DownloadToCacheFile(url, copyPath, nullptr, &copy) == S_OK;
  if (copyPath[0] != L'\0') {
    platform::Files().DeleteFile(copyPath);
  }
  return fetched;
}

// The names a release may list, in the order the manifest's parser takes them: the newest
// loader and the required files (all of which must be listed), then the message packages.
std::size_t ReleaseNames(const LoaderContext* context, const wchar_t* (&names)[kReleaseMaxFiles],
                         std::size_t& requiredCount) {
  std::size_t count = 0;
  names[count++] = context->loaderExeName;
  for (const wchar_t* const* name = context->requiredFiles;
       name != nullptr && *name != nullptr && count < kReleaseMaxFiles; ++name) {
    names[count++] = *name;
  }
  requiredCount = count;
  for (const wchar_t* package : kMessagesPackages) {
    if (count < kReleaseMaxFiles) {
      names[count++] = package;
    }
  }
  return count;
}

bool Refuse(LoaderContext* context, const wchar_t* text) {
  context->releaseState = ReleaseState::Refused;
  SetStatusMessage(context, text, nullptr);
  return false;
}

bool SignedByBuiltInKey(std::string_view manifest, std::string_view signatureText) {
  MinisignKey keys[kMaxReleaseKeys];
  std::size_t keyCount = 0;
  MinisignSignature signature;
  char name[MAX_PATH * 4];
  if (!ParseMinisignKeys(BuiltInReleaseKeys(), keys, keyCount) ||
      !ParseMinisignSignature(signatureText, signature) ||
      !platform::WideToUtf8(name, kReleaseManifestName)) {
    return false;
  }
  FileDigest digest;
  digest.Add({reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()});
  std::uint8_t manifestDigest[kFileDigestBytes];
  digest.Finish(manifestDigest);
  return VerifyMinisignSignature(signature, std::span<const MinisignKey>(keys, keyCount),
                                 manifestDigest, name);
}

}  // namespace

void ForgetRelease(LoaderContext* context) {
  context->releaseState = ReleaseState::NotFetched;
  std::memset(&context->release, 0, sizeof context->release);
}

bool TrustRelease(LoaderContext* context) {
  if (!ReleaseKeysBuiltIn() || context->releaseState == ReleaseState::Trusted) {
    return true;
  }
  if (context->releaseState == ReleaseState::Refused) {
    return false;
  }
  char manifestText[kReleaseManifestMaxBytes];
  char signatureText[kMinisignMaxSignatureFile];
  TextCopy manifest(manifestText);
  TextCopy signature(signatureText);
  wchar_t signatureName[MAX_PATH];
  if (!platform::FormatText(signatureName, L"%s.minisig", kReleaseManifestName) ||
      !FetchText(context, kReleaseManifestName, manifest) ||
      !FetchText(context, signatureName, signature)) {
    const bool tooLarge = manifest.WasTooLarge() || signature.WasTooLarge();
    return Refuse(context, tooLarge ? kReleaseNotVerifiedText : kReleaseNotFetchedText);
  }
  const wchar_t* names[kReleaseMaxFiles];
  std::size_t requiredCount = 0;
  const std::size_t nameCount = ReleaseNames(context, names, requiredCount);
  if (!SignedByBuiltInKey(manifest.Text(), signature.Text()) ||
      !ParseReleaseManifest(manifest.Text(), std::span<const wchar_t* const>(names, nameCount),
                            requiredCount, context->release)) {
    return Refuse(context, kReleaseNotVerifiedText);
  }
  if (context->release.release < BuiltInReleaseNumber()) {
    return Refuse(context, kReleaseTooOldText);
  }
  std::int64_t now = 0;
  if (context->release.expires &&
      (!platform::Clock().SecondsSinceEpoch(now) || now > context->release.expiresAt)) {
    return Refuse(context, kReleaseExpiredText);
  }
  context->releaseState = ReleaseState::Trusted;
  return true;
}

const ReleaseFileLine* ReleaseLineFor(const LoaderContext* context, const wchar_t* remoteName) {
  const wchar_t* names[kReleaseMaxFiles];
  std::size_t requiredCount = 0;
  const std::size_t nameCount = ReleaseNames(context, names, requiredCount);
  for (std::size_t i = 0; i < nameCount; ++i) {
    if (std::wcscmp(names[i], remoteName) == 0) {
      return FindReleaseFile(context->release, i);
    }
  }
  return nullptr;
}
