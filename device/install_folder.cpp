#include "device/install_folder.h"

#include <cwchar>
#include <memory>
#include <span>

#include "loader/install_path.h"
#include "loader/status_line.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/text.h"

void StopRunningClient(LoaderContext* context) {
  std::unique_ptr<platform::ProcessSnapshot> snapshot = platform::Processes().TakeSnapshot();
  if (snapshot == nullptr) {
    return;
  }
  platform::ProcessEntry entry;
  while (snapshot->Next(entry)) {
    if (std::wcscmp(entry.exeFile, context->clientExeName) == 0) {
      platform::Processes().Terminate(entry.processId);
    }
  }
}

bool ClearInstallFolder(LoaderContext* context) {
  StopRunningClient(context);
  SetStatusText(context, L"Clearing folders");

  wchar_t pattern[MAX_PATH];
  if (!platform::FormatText(std::span<wchar_t>(pattern), L"%s*.*", context->installDir)) {
    return true;
  }
  std::unique_ptr<platform::FileSearch> search = platform::Files().FindFiles(pattern);
  if (search == nullptr) {
    return true;
  }

  wchar_t name[MAX_PATH];
  while (search->Next(std::span<wchar_t>(name))) {
    if (std::wcscmp(name, context->loaderExeName) == 0) {
      continue;
    }
    if (std::wcscmp(name, kSettingsFileName) == 0) {
      continue;
    }
    wchar_t path[MAX_PATH];
    if (BuildInstallPath(context, name, path)) {
      platform::Files().DeleteFile(path);
    }
  }
  return true;
}
