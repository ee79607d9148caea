#include "loader/loading_sequence.h"

#include "device/install_folder.h"
#include "device/messages_package.h"
#include "device/program_launch.h"
#include "device/shortcuts.h"
#include "download/file_update.h"
#include "download/progress_callback.h"
#include "download/release_check.h"
#include "loader/failure.h"
#include "loader/install_path.h"
#include "loader/status_line.h"
#include "platform/files.h"
#include "settings/settings_file.h"

namespace {

constexpr const wchar_t* kCouldNotExecute = L"Could not execute file '%s'.";
constexpr const wchar_t* kLatestLoaderFailed =
    L"Unable to download the latest loader.\r\nPlease check your connection settings.";

// A program the loader hands over to and cannot start ends the run in a failure the user sees,
// rather than in a loader that quietly goes away.
void StartProgram(LoaderContext* context, const wchar_t* name, const wchar_t* parameters) {
  wchar_t path[MAX_PATH];
  if (!BuildInstallPath(context, name, path)) {
    RaiseFailure(kCouldNotExecute, name);
  }
  if (!RunProgram(path, parameters)) {
    RaiseFailure(kCouldNotExecute, path);
  }
}

// Fetches the newest loader and hands over to it; false, with the reason in statusMessage, when
// it could not be fetched (or it, or its release, could not be trusted).
bool HandOverToNewestLoader(LoaderContext* context) {
  DownloadProgressCallback progress(context);
  DownloadFailure failure;
  if (!DownloadFile(context, context->loaderExeName, &progress, context->newLoaderExeName,
                    &failure)) {
    if (!ExplainDownloadFailure(context, failure, context->loaderExeName)) {
      platform::CopyText(context->statusMessage, kLatestLoaderFailed);
    }
    return false;
  }
  StartProgram(context, context->newLoaderExeName, L"-DoNotRunNewLoader");
  CloseLoader(context);
  return true;
}

}  // namespace

bool RunLoadingSequence(LoaderContext* context) {
  // Each run trusts only the release manifest it fetched itself.
  ForgetRelease(context);
  platform::FileService& files = platform::Files();
  // Only a missing parent means this device has no place for the folder; any other outcome
  // leaves it usable for the settings file.
  context->appDirAvailable =
      files.CreateFolder(context->appDir) != platform::CreateFolderResult::PathNotFound;
  files.CreateFolder(context->installDir);

  if (context->serverAddress[0] == L'\0') {
    ReadServerAddress(context, context->serverAddress);
  }
  if (context->serverAddress[0] == L'\0') {
    SetStatusText(context, L"Enter URL");
    ShowAddressPrompt(context, true, context->serverAddress);
    return false;
  }

  bool complete = false;
  if (context->forceUpgrade) {
    ClearInstallFolder(context);
  }
  if (context->installCfMessages && InstallCfMessagesPackage(context)) {
    context->installCfMessages = false;
  }

  if (!context->forceUpgrade && CheckRequiredFiles(context)) {
    RestoreMissingShortcuts(context);
    complete = true;
  } else if (context->updateLoader) {
    if (HandOverToNewestLoader(context)) {
      return true;
    }
  } else if (DownloadRequiredFiles(context)) {
    CreateShortcuts(context);
    InstallSetupPackages(context);
    complete = true;
  }

  if (complete && !context->installCfMessages) {
    StartProgram(context, context->clientExeName, L"-NewLoader");
    CloseLoader(context);
    return true;
  }
  SetStatusText(context, context->statusMessage);
  context->statusMessage[0] = L'\0';
  // The prompt must be the run's last action: Ok on it starts the next worker.
  ShowAddressPrompt(context, true, context->serverAddress);
  return false;
}

void InstallSetupPackages(LoaderContext* context) {
  if (context->setupPackages == nullptr) {
    return;
  }
  for (const wchar_t* const* package = context->setupPackages; *package != nullptr; ++package) {
    wchar_t path[MAX_PATH];
    if (BuildInstallPath(context, *package, path)) {
      RunInstaller(path);
    }
  }
}
