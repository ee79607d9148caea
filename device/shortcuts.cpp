#include "device/shortcuts.h"

#include <cwchar>
#include <memory>
#include <span>

#include "loader/loader_dialog.h"
#include "loader/platform_detection.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace {

constexpr const wchar_t* START_MENU_PROGRAMS = L"\\Windows\\Start Menu\\Programs\\";

void CreateShortcutIn(const wchar_t* folder, const wchar_t* name, const wchar_t* target) {
  wchar_t path[MAX_PATH];
  if (platform::FormatText(std::span<wchar_t>(path), L"%s%s.lnk", folder, name)) {
    platform::Shell().CreateShortcut(path, target);
  }
}

// Removes the Start-menu shortcuts whose names begin with the shortcut name, except the one
// just created.
void RemoveOtherStartMenuShortcuts(LoaderContext* context) {
  wchar_t pattern[MAX_PATH];
  wchar_t ownName[MAX_PATH];
  if (!platform::FormatText(std::span<wchar_t>(pattern), L"%s%s*.lnk", START_MENU_PROGRAMS,
                            context->shortcutName) ||
      !platform::FormatText(std::span<wchar_t>(ownName), L"%s.lnk", context->shortcutName)) {
    return;
  }
  std::unique_ptr<platform::FileSearch> search = platform::Files().FindFiles(pattern);
  if (search == nullptr)
    return;
  wchar_t name[MAX_PATH];
  while (search->Next(std::span<wchar_t>(name))) {
    if (std::wcscmp(name, ownName) == 0)
      continue;
    wchar_t path[MAX_PATH];
    if (platform::FormatText(std::span<wchar_t>(path), L"%s%s", START_MENU_PROGRAMS, name)) {
      platform::Files().DeleteFile(path);
    }
  }
}

}  // namespace

void CreateShortcuts(LoaderContext* context) {
  SetStatusText(context, L"Creating shortcuts");

  wchar_t target[MAX_PATH];
  if (!platform::FormatText(std::span<wchar_t>(target), L"\"%s%s\"", context->installDir,
                            context->loaderExeName)) {
    return;
  }

  if (IsPlainCeDevice(context)) {
    CreateShortcutIn(L"\\Windows\\Programs\\", context->shortcutName, target);
    CreateShortcutIn(L"\\Windows\\Desktop\\", context->shortcutName, target);
    return;
  }
  CreateShortcutIn(START_MENU_PROGRAMS, context->shortcutName, target);
  RemoveOtherStartMenuShortcuts(context);
}
