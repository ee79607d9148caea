#include "settings/settings_file.h"

#include <cstdio>
#include <span>
#include <string>

#include <pugixml.hpp>

#include "platform/device_root.h"
#include "platform/text.h"

namespace {

// The file is written here first and then renamed over the settings file, so that a loader
// that dies while saving leaves the old file or the new one, never a cut one.
constexpr const char* PENDING_SETTINGS_FILE_FORMAT = "%sRFConfig.xml.new";

bool BuildHostPath(const char* format, const char* folder, std::string& hostPath) {
  char path[MAX_PATH];
  if (!platform::FormatNarrow(std::span<char>(path), format, folder))
    return false;
  hostPath = platform::ToHostPath(std::string_view(path));
  return true;
}

bool LoadSettings(pugi::xml_document& document, const char* folder) {
  std::string hostPath;
  if (!BuildHostPath(SETTINGS_FILE_FORMAT, folder, hostPath))
    return false;
  return static_cast<bool>(document.load_file(hostPath.c_str()));
}

bool IsStrippedSpace(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}

}  // namespace

void ReadServerAddress(LoaderContext* context, wchar_t* address) {
  pugi::xml_document document;
  if (!LoadSettings(document, context->appDirAnsi) &&
      !LoadSettings(document, context->installDirAnsi)) {
    return;
  }
  const char* text = document.child("Config").child("WebHostName").first_child().value();

  // Room for the longest narrow text that can still become 259 wide characters.
  char compact[MAX_PATH * 4];
  std::size_t length = 0;
  for (; *text != '\0'; ++text) {
    if (IsStrippedSpace(*text))
      continue;
    // A text too long for the address is not taken: the address stays as it was.
    if (length + 1 == sizeof compact)
      return;
    compact[length++] = *text;
  }
  compact[length] = '\0';

  wchar_t wide[MAX_PATH];
  if (!platform::NarrowToWide(std::span<wchar_t>(wide), compact))
    return;
  platform::CopyText(std::span<wchar_t>(address, MAX_PATH), wide);
}

bool SaveServerAddress(LoaderContext* context, const wchar_t* address) {
  const char* folder = context->appDirAvailable ? context->appDirAnsi : context->installDirAnsi;
  std::string hostPath;
  std::string pendingPath;
  if (!BuildHostPath(SETTINGS_FILE_FORMAT, folder, hostPath) ||
      !BuildHostPath(PENDING_SETTINGS_FILE_FORMAT, folder, pendingPath)) {
    return true;
  }

  pugi::xml_document document;
  document.load_file(hostPath.c_str());

  pugi::xml_node config = document.child("Config");
  if (!config) {
    config = document.append_child(pugi::node_element);
    config.set_name("Config");
  }
  pugi::xml_node webHostName = config.child("WebHostName");
  if (!webHostName) {
    webHostName = config.append_child(pugi::node_element);
    webHostName.set_name("WebHostName");
  }

  // An address whose narrow form does not fit is not stored; the file keeps what it held.
  char narrow[MAX_PATH];
  if (!platform::WideToNarrow(std::span<char>(narrow), address))
    return true;

  pugi::xml_node text = webHostName.first_child();
  if (!text)
    text = webHostName.append_child(pugi::node_pcdata);
  text.set_value(narrow);

  if (document.save_file(pendingPath.c_str())) {
    std::rename(pendingPath.c_str(), hostPath.c_str());
  } else {
    std::remove(pendingPath.c_str());
  }
  return true;
}
