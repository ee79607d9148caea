// Small files that the loader reads whole and replaces whole (the settings file). Paths are
// device paths in UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/service.h"

namespace platform {

class SmallFileService {
 public:
  virtual ~SmallFileService() = default;
  // Reads the file whole into content. False when it cannot be read, is no regular file, or
  // holds more than maxBytes (then nothing beyond the size is read).
  virtual bool ReadWholeFile(const char* path, std::size_t maxBytes, std::string& content) = 0;
  // Replaces the file (or whatever stands at path, a link included) with one holding content,
  // so that a crash or a power cut at any moment leaves the old file or the whole new one.
  virtual bool ReplaceFile(const char* path, std::string_view content) = 0;
};

inline SmallFileService& SmallFiles() {
  return Use<SmallFileService>();
}

}  // namespace platform
