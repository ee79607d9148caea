#include "device/messages_package.h"

#include <span>

#include "device/program_launch.h"
#include "download/checked_download.h"
#include "download/file_update.h"
#include "download/progress_callback.h"
#include "loader/failure.h"
#include "loader/install_path.h"
#include "loader/status_line.h"
#include "platform/files.h"
#include "platform/text.h"

bool InstallCfMessagesPackage(LoaderContext* context) {
  SetStatusText(context, L"Downloading CF 3.5 EN Messages package");
  DownloadProgressCallback progress(context);

  const wchar_t* packageName =
      IsPlainCeDevice(context) ? kMessagesPackages[0] : kMessagesPackages[1];

  wchar_t localPath[MAX_PATH];
  const bool pathFits = BuildInstallPath(context, packageName, localPath);
  if (pathFits) {
    platform::Files().DeleteFile(localPath);
  }

  if (!HasFreeSpace(context, 5)) {
    RaiseFailure(L"5MB required for installation of '%s'.", packageName);
  }

  // A signed release's package is checked before it enters the install folder.
  DownloadFailure failure;
  if (!DownloadFile(context, packageName, &progress, nullptr, &failure)) {
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
