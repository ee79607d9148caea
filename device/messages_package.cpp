#include "device/messages_package.h"

#include <span>

#include "device/program_launch.h"
#include "download/checked_download.h"
#include "download/file_update.h"
#include "download/progress_callback.h"
#include "loader/failure.h"
#include "loader/loader_dialog.h"
#include "loader/platform_detection.h"
#include "platform/files.h"
#include "platform/text.h"

bool InstallCfMessagesPackage(LoaderContext* context) {
  SetStatusText(context, L"Downloading CF 3.5 EN Messages package");
  DownloadProgressCallback progress(context);

  const wchar_t* packageName =
      IsPlainCeDevice(context) ? MESSAGES_PACKAGES[0] : MESSAGES_PACKAGES[1];

  wchar_t localPath[MAX_PATH];
  const bool pathFits = platform::FormatText(std::span<wchar_t>(localPath), L"%s%s",
                                             context->installDir, packageName);
  if (pathFits) {
    platform::Files().DeleteFile(localPath);
  }

  if (!HasFreeSpace(context, 5)) {
    RaiseFailure(L"5MB required for installation of '%s'.", packageName);
  }

  // A path that did not fit is a download that cannot be made. A signed release's package is
  // checked before it enters the install folder.
  const DownloadFailure failure =
      pathFits ? DownloadChecked(context, packageName, &progress, {}, localPath)
               : DownloadFailure::NotFetched;
  if (failure != DownloadFailure::None) {
    if (pathFits) {
      platform::Files().DeleteFile(localPath);
    }
    ExplainDownloadFailure(context, failure, packageName);
    return false;
  }

  SetStatusText(context, L".Net Compact Framework 3.5 Messages (EN) installation");
  const bool installerRan = RunInstaller(localPath);
  platform::Files().DeleteFile(localPath);
  if (!installerRan) {
    RaiseFailure(L"Could not execute file '%s'.", localPath);
  }
  return true;
}
