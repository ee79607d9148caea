#include "device/messages_package.h"

#include <span>

#include "device/program_launch.h"
#include "download/file_signature.h"
#include "download/file_update.h"
#include "download/progress_callback.h"
#include "loader/failure.h"
#include "loader/loader_dialog.h"
#include "loader/platform_detection.h"
#include "platform/download.h"
#include "platform/files.h"
#include "platform/text.h"
#include "settings/download_url.h"

bool InstallCfMessagesPackage(LoaderContext* context) {
  SetStatusText(context, L"Downloading CF 3.5 EN Messages package");
  DownloadProgressCallback progress(context);

  const wchar_t* packageName =
      IsPlainCeDevice(context) ? L"NETCFv35.Messages.EN.cab" : L"NETCFv35.Messages.EN.wm.cab";

  wchar_t localPath[MAX_PATH];
  const bool pathFits = platform::FormatText(std::span<wchar_t>(localPath), L"%s%s",
                                             context->installDir, packageName);
  if (pathFits)
    platform::Files().DeleteFile(localPath);

  wchar_t url[MAX_PATH];
  const bool urlBuilt = BuildDownloadUrl(context, url, packageName);

  if (!HasFreeSpace(context, 5)) {
    RaiseFailure(L"5MB required for installation of '%s'.", packageName);
  }

  // A path or address that did not fit is a download that cannot be made. A signed release's
  // package is hashed as it streams.
  const bool signedRelease = ReleaseKeysBuiltIn();
  FileDigest digest;
  const HRESULT result = pathFits && urlBuilt
                             ? platform::Downloads().DownloadToFile(
                                   url, localPath, &progress, signedRelease ? &digest : nullptr)
                             : E_FAIL;
  if (result != S_OK) {
    if (pathFits)
      platform::Files().DeleteFile(localPath);
    return false;
  }
  // It goes to the installer only once its signature holds.
  if (signedRelease) {
    std::uint8_t fileDigest[FILE_DIGEST_BYTES];
    digest.Finish(fileDigest);
    if (!VerifyFileSignature(context, packageName, fileDigest)) {
      platform::Files().DeleteFile(localPath);
      SetStatusMessage(context, UNVERIFIED_FILE_TEXT, packageName);
      return false;
    }
  }

  SetStatusText(context, L".Net Compact Framework 3.5 Messages (EN) installation");
  const bool installerRan = RunInstaller(localPath);
  platform::Files().DeleteFile(localPath);
  if (!installerRan)
    RaiseFailure(L"Could not execute file '%s'.", localPath);
  return true;
}
