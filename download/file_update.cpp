#include "download/file_update.h"

#include <cstdint>
#include <span>

#include "device/install_folder.h"
#include "download/file_signature.h"
#include "loader/failure.h"
#include "loader/loader_dialog.h"
#include "platform/download.h"
#include "platform/files.h"
#include "platform/text.h"
#include "settings/download_url.h"

namespace {

constexpr const wchar_t* CONNECTION_FAILED_TEXT =
    L"Error connecting to server.\r\nPlease check the Url or network connectivity.";

bool FormatPath(std::span<wchar_t> path, const wchar_t* folder, const wchar_t* name) {
  if (platform::FormatText(path, L"%s%s", folder, name))
    return true;
  path[0] = L'\0';
  return false;
}

}  // namespace

// A name too long for the message is cut rather than lost.
void SetStatusMessage(LoaderContext* context, const wchar_t* first, const wchar_t* name) {
  std::span<wchar_t> out(context->statusMessage);
  platform::CopyText(out, first);
  if (name == nullptr)
    return;
  std::size_t length = 0;
  while (out[length] != L'\0')
    ++length;
  while (*name != L'\0' && length + 1 < out.size())
    out[length++] = *name++;
  out[length] = L'\0';
}

bool HasFreeSpace(LoaderContext* context, std::uint64_t requiredMegabytes) {
  std::uint64_t bytes = 0;
  if (!platform::Files().FreeBytesAvailable(context->installDir, bytes))
    return false;
  return bytes / 1024 / 1024 > requiredMegabytes;
}

bool CheckRequiredFiles(LoaderContext* context) {
  SetStatusText(context, L"Checking Required Files");
  const wchar_t* const* names = context->requiredFiles;
  for (const wchar_t* const* name = names; name != nullptr && *name != nullptr; ++name) {
    wchar_t path[MAX_PATH];
    // A path the device cannot hold cannot name a file that is there.
    bool present = FormatPath(std::span<wchar_t>(path), context->installDir, *name);
    if (present) {
      ReplaceFirstOccurrence(path, path, L".wm.", L".");
      ReplaceFirstOccurrence(path, path, L".CE.", L".");
      present = static_cast<std::int32_t>(platform::Files().GetAttributes(path)) >= 0;
    }
    if (!present) {
      ClearInstallFolder(context);
      return false;
    }
  }
  return true;
}

bool DownloadFile(LoaderContext* context, const wchar_t* remoteName,
                  DownloadProgressCallback* progress, const wchar_t* localName,
                  DownloadFailure* failure) {
  DownloadFailure ignored;
  DownloadFailure& why = failure != nullptr ? *failure : ignored;
  why = DownloadFailure::NotFetched;
  wchar_t url[MAX_PATH];
  if (!BuildDownloadUrl(context, url, remoteName))
    return false;

  // A signed release's file is hashed as it streams, and used only once its signature holds.
  const bool signedRelease = ReleaseKeysBuiltIn();
  FileDigest digest;
  wchar_t cachePath[MAX_PATH];
  cachePath[0] = L'\0';
  if (platform::Downloads().DownloadToCacheFile(url, std::span<wchar_t>(cachePath), progress,
                                                signedRelease ? &digest : nullptr) != S_OK) {
    return false;
  }
  if (signedRelease) {
    std::uint8_t fileDigest[FILE_DIGEST_BYTES];
    digest.Finish(fileDigest);
    if (!VerifyFileSignature(context, remoteName, fileDigest)) {
      platform::Files().DeleteFile(cachePath);
      why = DownloadFailure::NotVerified;
      return false;
    }
  }

  wchar_t destination[MAX_PATH];
  if (!FormatPath(std::span<wchar_t>(destination), context->installDir,
                  localName != nullptr ? localName : remoteName)) {
    platform::Files().DeleteFile(cachePath);
    return false;
  }
  platform::Files().DeleteFile(destination);
  if (platform::Files().MoveFile(cachePath, destination))
    return true;
  // Nothing else would ever remove the fetched copy.
  platform::Files().DeleteFile(cachePath);
  return false;
}

bool DownloadRequiredFiles(LoaderContext* context) {
  if (context->serverAddress[0] == L'\0') {
    SetStatusMessage(context, L"Please enter a valid url.", nullptr);
    return false;
  }
  if (!HasFreeSpace(context, 10)) {
    RaiseFailure(L"10MB required for installation of this application.", L"");
  }

  DownloadProgressCallback progress(context);
  int number = 1;
  const wchar_t* const* names = context->requiredFiles;
  for (const wchar_t* const* name = names; name != nullptr && *name != nullptr; ++name, ++number) {
    wchar_t localName[MAX_PATH];
    bool marked = ReplaceFirstOccurrence(localName, *name, L".CE.", L".") ||
                  ReplaceFirstOccurrence(localName, *name, L".wm.", L".");
    DownloadFailure failure;
    if (DownloadFile(context, *name, &progress, marked ? localName : nullptr, &failure))
      continue;

    // A file that arrived but whose signature did not hold says so, the first one too.
    if (failure == DownloadFailure::NotVerified) {
      SetStatusMessage(context, UNVERIFIED_FILE_TEXT, *name);
    } else if (number == 1) {
      SetStatusMessage(context, CONNECTION_FAILED_TEXT, nullptr);
    } else if (marked) {
      SetStatusMessage(context, L"Unable to download and replace file: \r\n", *name);
    } else {
      SetStatusMessage(context, L"Unable to download file: \r\n", *name);
    }
    return false;
  }
  return true;
}
