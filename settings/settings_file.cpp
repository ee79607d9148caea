#include "settings/settings_file.h"

#include <span>
#include <string>

#include <pugixml.hpp>

#include "platform/small_files.h"
#include "platform/text.h"

namespace {

// The loader's own file is a few lines two levels deep. Anything far larger or deeper was not
// written by it and counts as a file that does not load, so that a save never carries it on.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;
constexpr int kMaxSettingsDepth = 16;

bool BuildPath(const char* folder, char (&path)[MAX_PATH]) {
  return platform::FormatNarrow(std::span<char>(path), kSettingsFileFormat, folder);
}

class DepthLimit final : public pugi::xml_tree_walker {
 public:
  // depth() counts from 0 for the nodes directly under the document.
  bool for_each(pugi::xml_node&) override { return depth() < kMaxSettingsDepth; }
};

// A document that does not load may still hold the part parsed before the fault, which a save
// keeps; a document too deep is emptied, whether it parsed or not.
bool LoadSettings(pugi::xml_document& document, const char* folder) {
  char path[MAX_PATH];
  std::string content;
  if (!BuildPath(folder, path) ||
      !platform::SmallFiles().ReadWholeFile(path, kMaxSettingsBytes, content)) {
    return false;
  }
  const bool parsed = static_cast<bool>(document.load_buffer(content.data(), content.size()));
  DepthLimit limit;
  if (!document.traverse(limit)) {
    document.reset();
    return false;
  }
  return parsed;
}

class StringWriter final : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

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
    if (IsStrippedSpace(*text)) {
      continue;
    }
    // A text too long for the address is not taken: the address stays as it was.
    if (length + 1 == sizeof compact) {
      return;
    }
    compact[length++] = *text;
  }
  compact[length] = '\0';

  wchar_t wide[MAX_PATH];
  if (!platform::NarrowToWide(std::span<wchar_t>(wide), compact)) {
    return;
  }
  platform::CopyText(std::span<wchar_t>(address, MAX_PATH), wide);
}

bool SaveServerAddress(LoaderContext* context, const wchar_t* address) {
  const char* folder = context->appDirAvailable ? context->appDirAnsi : context->installDirAnsi;
  char path[MAX_PATH];
  if (!BuildPath(folder, path)) {
    return true;
  }

  pugi::xml_document document;
  LoadSettings(document, folder);

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
  if (!platform::WideToNarrow(std::span<char>(narrow), address)) {
    return true;
  }

  pugi::xml_node text = webHostName.first_child();
  if (!text) {
    text = webHostName.append_child(pugi::node_pcdata);
  }
  text.set_value(narrow);

  // Written whole to a new file and renamed over the old one: a loader that dies while saving
  // leaves the old file or the new one, never a cut one.
  std::string content;
  StringWriter writer(content);
  document.save(writer);
  platform::SmallFiles().ReplaceFile(path, content);
  return true;
}

void RemoveAbandonedSettingsReplacements(LoaderContext* context) {
  for (const char* folder : {context->appDirAnsi, context->installDirAnsi}) {
    char path[MAX_PATH];
    if (BuildPath(folder, path)) {
      platform::SmallFiles().RemoveAbandonedReplacements(path);
    }
  }
}
