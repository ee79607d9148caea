#include "loader/install_path.h"

#include "platform/text.h"

bool BuildInstallPath(const LoaderContext* context, const wchar_t* name, std::span<wchar_t> path) {
  if (platform::FormatText(path, L"%s%s", context->installDir, name)) {
    return true;
  }
  if (!path.empty()) {
    path[0] = L'\0';
  }
  return false;
}
