#include "download/file_update.h"

#include <cstdint>
#include <span>

#include "device/install_folder.h"
#include "loader/failure.h"
#include "loader/install_path.h"
#include "loader/status_line.h"
#include "loader/status_message.h"
#include "platform/download.h"
#include "platform/files.h"
#include "platform/text.h"
#include "settings/download_url.h"

namespace {

constexpr const wchar_t* kConnectionFailedText =
    L"Error connecting to server.\r\nPlease check the Url or network connectivity.";

}  // namespace

bool HasFreeSpace(LoaderContext* context, std::uint64_t requiredMegabytes) {
  std::uint64_t bytes = 0;
  if (!platform::Files().FreeBytesAvailable(context->installDir, bytes)) {
    return false;
  }
  return bytes / 1024 / 1024 > requiredMegabytes;
}

bool CheckRequiredFiles(LoaderContext* context) {
  SetStatusText(context, L"Checking Required Files");
  const wchar_t* const* names = context->requiredFiles;
  for (const wchar_t* const* name = names; name != nullptr && *name != nullptr; ++name) {
    wchar_t path[MAX_PATH];
    // A path the device cannot hold cannot name a file that is there.
    bool present = BuildInstallPath(context, *name, path);
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
    if (DownloadFile(context, *name, &progress, marked ? localName : nullptr, &failure)) {
      continue;
    }
    // A release that was refused, or a file that arrived but does not match it, says so, the
    // first file too.
    if (ExplainDownloadFailure(context, failure, *name)) {
      return false;
    }
    if (number == 1) {
      SetStatusMessage(context, kConnectionFailedText, nullptr);
    } else if (marked) {
      SetStatusMessage(context, L"Unable to download and replace file: \r\n", *name);
    } else {
      SetStatusMessage(context, L"Unable to download file: \r\n", *name);
    }
    return false;
  }
  return true;
}
