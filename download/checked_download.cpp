#include "download/checked_download.h"

#include <cwchar>
#include <optional>

#include "download/file_check.h"
#include "download/release_check.h"
#include "loader/install_path.h"
#include "loader/status_message.h"
#include "platform/download.h"
#include "settings/download_url.h"

DownloadFailure DownloadChecked(LoaderContext* context, const wchar_t* remoteName,
                                DownloadProgressCallback* progress, std::span<wchar_t> cachePath,
                                const wchar_t* target) {
  if (!cachePath.empty()) {
    cachePath[0] = L'\0';
  }
  wchar_t url[MAX_PATH];
  if (!BuildDownloadUrl(context, url, remoteName)) {
    return DownloadFailure::NotFetched;
  }
  // The manifest comes before any file of the run, and decides which files may come at all.
  std::optional<ReleaseFileCheck> check;
  if (ReleaseKeysBuiltIn()) {
    if (!TrustRelease(context)) {
      return DownloadFailure::ReleaseRefused;
    }
    const ReleaseFileLine* line = ReleaseLineFor(context, remoteName);
    if (line == nullptr) {
      return DownloadFailure::NotInRelease;
    }
    check.emplace(*line, std::wcscmp(remoteName, context->loaderExeName) == 0);
  }
  platform::DownloadContentSink* content = check ? &*check : nullptr;
  const HRESULT result =
      target != nullptr
          ? platform::Downloads().DownloadToFile(url, target, progress, content)
          : platform::Downloads().DownloadToCacheFile(url, cachePath, progress, content);
  if (result == S_OK) {
    return DownloadFailure::None;
  }
  switch (check ? check->Result() : ReleaseFileCheck::Verdict::Pending) {
    case ReleaseFileCheck::Verdict::DiffersFromRelease:
      return DownloadFailure::NotVerified;
    case ReleaseFileCheck::Verdict::LacksReleaseKeys:
      return DownloadFailure::LacksKeys;
    default:
      return DownloadFailure::NotFetched;
  }
}

bool ExplainDownloadFailure(LoaderContext* context, DownloadFailure failure,
                            const wchar_t* remoteName) {
  switch (failure) {
    case DownloadFailure::ReleaseRefused:
      return true;  // TrustRelease has said why
    case DownloadFailure::NotInRelease:
      SetStatusMessage(context, kFileNotInReleaseText, remoteName);
      return true;
    case DownloadFailure::NotVerified:
      SetStatusMessage(context, kUnverifiedFileText, remoteName);
      return true;
    case DownloadFailure::LacksKeys:
      SetStatusMessage(context, kLoaderWithoutKeysText, nullptr);
      return true;
    default:
      return false;
  }
}

bool DownloadFile(LoaderContext* context, const wchar_t* remoteName,
                  DownloadProgressCallback* progress, const wchar_t* localName,
                  DownloadFailure* failure) {
  DownloadFailure ignored;
  DownloadFailure& why = failure != nullptr ? *failure : ignored;
  why = DownloadFailure::NotFetched;
  wchar_t destination[MAX_PATH];
  if (!BuildInstallPath(context, localName != nullptr ? localName : remoteName, destination)) {
    return false;
  }
  // Straight to its place: the host moves the copy whose bytes were checked while it still holds
  // it, where a copy left in Temp for a later move could be changed in between.
  why = DownloadChecked(context, remoteName, progress, {}, destination);
  return why == DownloadFailure::None;
}
