#include "platform/linux/binary_formats.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

#include "platform/host.h"

namespace platform {
namespace {

// The kernel looks at the first 256 bytes of a program; an entry file is a few hundred bytes.
constexpr std::size_t kProgramHead = 256;
constexpr std::size_t kEntryLimit = 4096;

// Up to limit bytes of a regular file; empty when it cannot be read.
std::string ReadStart(const std::string& path, std::size_t limit) {
  std::string bytes;
  ReadFileStart(path, limit, bytes);
  return bytes;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// The kernel writes magic and mask as lower-case hexadecimal without separators.
bool ParseHex(std::string_view text, std::string& bytes) {
  if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > kProgramHead) {
    return false;
  }
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

bool ParseOffset(std::string_view text, std::size_t& offset) {
  if (text.empty() || text.size() > 3) {
    return false;
  }
  offset = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    offset = offset * 10 + static_cast<std::size_t>(c - '0');
  }
  return offset < kProgramHead;
}

bool ParseEntry(std::string_view text, BinaryFormat& format) {
  bool enabled = false;
  bool hasMask = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string_view value =
        space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (line == "enabled") {
      enabled = true;
    } else if (key == "interpreter") {
      char* resolved = realpath(std::string(value).c_str(), nullptr);
      if (resolved == nullptr) {
        return false;
      }
      format.interpreter = resolved;
      std::free(resolved);
    } else if (key == "offset" && !ParseOffset(value, format.offset)) {
      return false;
    } else if (key == "magic" && !ParseHex(value, format.magic)) {
      return false;
    } else if (key == "mask") {
      if (!ParseHex(value, format.mask)) {
        return false;
      }
      hasMask = true;
    } else if (key == "extension") {
      if (value.size() < 2 || value.front() != '.' || value.find('/') != std::string_view::npos) {
        return false;
      }
      format.extension = value.substr(1);
    }
  }
  if (!hasMask) {
    format.mask.assign(format.magic.size(), '\xff');
  }
  const bool byMagic = !format.magic.empty() && format.mask.size() == format.magic.size() &&
                       format.offset + format.magic.size() <= kProgramHead;
  return enabled && !format.interpreter.empty() && (byMagic != !format.extension.empty());
}

}  // namespace

std::vector<BinaryFormat> ReadBinaryFormats(const std::string& folder) {
  std::vector<BinaryFormat> formats;
  DIR* entries = opendir(folder.c_str());
  if (entries == nullptr) {
    return formats;
  }
  while (const dirent* entry = readdir(entries)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || name == "register" || name == "status") {
      continue;
    }
    BinaryFormat format;
    if (ParseEntry(ReadStart(folder + "/" + entry->d_name, kEntryLimit), format)) {
      formats.push_back(std::move(format));
    }
  }
  closedir(entries);
  return formats;
}

bool IsOfFormat(const BinaryFormat& format, const std::string& path) {
  if (!format.extension.empty()) {
    struct stat status {};
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name =
        std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    return name.size() > format.extension.size() + 1 && name.ends_with("." + format.extension) &&
           stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
  }
  const std::string head = ReadStart(path, kProgramHead);
  if (head.size() < format.offset + format.magic.size()) {
    return false;
  }
  for (std::size_t i = 0; i < format.magic.size(); ++i) {
    if (((head[format.offset + i] ^ format.magic[i]) & format.mask[i]) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace platform
