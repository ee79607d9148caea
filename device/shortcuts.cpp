#include "device/shortcuts.h"

#include <cwchar>
#include <memory>
#include <span>

#include "loader/status_line.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/small_files.h"
#include "platform/text.h"

namespace {

constexpr const wchar_t* kStartMenuPrograms = L"\\Windows\\Start Menu\\Programs\\";

// The folders that hold the loader's shortcuts on this kind of device, up to a null.
const wchar_t* const* ShortcutFolders(const LoaderContext* context) {
  static constexpr const wchar_t* kPlainCe[] = {L"\\Windows\\Programs\\", L"\\Windows\\Desktop\\",
                                                nullptr};
  static constexpr const wchar_t* kOthers[] = {kStartMenuPrograms, nullptr};
  return IsPlainCeDevice(context) ? kPlainCe : kOthers;
}

bool BuildShortcutPath(const LoaderContext* context, const wchar_t* folder,
                       wchar_t (&path)[MAX_PATH]) {
  return platform::FormatText(std::span<wchar_t>(path), L"%s%s.lnk", folder, context->shortcutName);
}

// What a shortcut starts: the loader in the install folder, quoted.
bool BuildShortcutTarget(const LoaderContext* context, wchar_t (&target)[MAX_PATH]) {
  return platform::FormatText(std::span<wchar_t>(target), L"\"%s%s\"", context->installDir,
                              context->loaderExeName);
}

// Removes the Start-menu shortcuts whose names begin with the shortcut name, except the one
// just created.
void RemoveOtherStartMenuShortcuts(LoaderContext* context) {
  wchar_t pattern[MAX_PATH];
  wchar_t ownName[MAX_PATH];
  if (!platform::FormatText(std::span<wchar_t>(pattern), L"%s%s*.lnk", kStartMenuPrograms,
                            context->shortcutName) ||
      !platform::FormatText(std::span<wchar_t>(ownName), L"%s.lnk", context->shortcutName)) {
    return;
  }
  std::unique_ptr<platform::FileSearch> search = platform::Files().FindFiles(pattern);
  if (search == nullptr) {
    return;
  }
  wchar_t name[MAX_PATH];
  while (search->Next(std::span<wchar_t>(name))) {
    if (std::wcscmp(name, ownName) == 0) {
      continue;
    }
    wchar_t path[MAX_PATH];
    if (platform::FormatText(std::span<wchar_t>(path), L"%s%s", kStartMenuPrograms, name)) {
      platform::Files().DeleteFile(path);
    }
  }
}

}  // namespace

void CreateShortcuts(LoaderContext* context) {
  SetStatusText(context, L"Creating shortcuts");

  wchar_t target[MAX_PATH];
  if (!BuildShortcutTarget(context, target)) {
    return;
  }
  for (const wchar_t* const* folder = ShortcutFolders(context); *folder != nullptr; ++folder) {
    wchar_t path[MAX_PATH];
    if (BuildShortcutPath(context, *folder, path)) {
      platform::Shell().CreateShortcut(path, target);
    }
  }
  // A plain CE device keeps its Start menu as it is.
  if (!IsPlainCeDevice(context)) {
    RemoveOtherStartMenuShortcuts(context);
  }
}

void RestoreMissingShortcuts(LoaderContext* context) {
  wchar_t target[MAX_PATH];
  if (!BuildShortcutTarget(context, target)) {
    return;
  }
  bool told = false;
  for (const wchar_t* const* folder = ShortcutFolders(context); *folder != nullptr; ++folder) {
    wchar_t path[MAX_PATH];
    if (!BuildShortcutPath(context, *folder, path) ||
        platform::Files().GetAttributes(path) != INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    if (!told) {
      SetStatusText(context, L"Creating shortcuts");
      told = true;
    }
    platform::Shell().CreateShortcut(path, target);
  }
}

void RemoveAbandonedShortcutReplacements(LoaderContext* context) {
  for (const wchar_t* const* folder = ShortcutFolders(context); *folder != nullptr; ++folder) {
    wchar_t path[MAX_PATH];
    char narrow[MAX_PATH];
    if (BuildShortcutPath(context, *folder, path) &&
        platform::WideToNarrow(std::span<char>(narrow), path)) {
      platform::SmallFiles().RemoveAbandonedReplacements(narrow);
    }
  }
}
