#include "device/device_folders.h"

#include <cwchar>
#include <span>

#include "platform/files.h"
#include "platform/text.h"

bool FindLinkedDeviceFolder(const LoaderContext* context, wchar_t (&folder)[MAX_PATH]) {
  // Each folder after those on the way to it, so that the first found is the link itself. Every
  // shortcut folder counts, whatever the kind of device: a Plain CE installation removes the
  // Start menu's older shortcuts.
  const wchar_t* const folders[] = {L"Program Files\\",
                                    context->installDir,
                                    L"Application\\",
                                    context->appDir,
                                    L"Temp\\",
                                    L"Windows\\",
                                    L"Windows\\Start Menu\\",
                                    L"Windows\\Start Menu\\Programs\\",
                                    L"Windows\\Programs\\",
                                    L"Windows\\Desktop\\"};
  platform::FileService& files = platform::Files();
  for (const wchar_t* candidate : folders) {
    if (!files.IsReachedThroughLink(candidate)) {
      continue;
    }
    // Shown as the device names it: "\Temp", without the closing separator.
    if (!platform::FormatText(std::span<wchar_t>(folder), L"\\%s", candidate)) {
      folder[0] = L'\0';
    }
    const std::size_t length = std::wcslen(folder);
    if (length > 1 && folder[length - 1] == L'\\') {
      folder[length - 1] = L'\0';
    }
    return true;
  }
  return false;
}
