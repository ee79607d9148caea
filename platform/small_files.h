// Small files that the loader reads whole and replaces whole (the settings file, the shortcuts).
// Paths are device paths in the loader's narrow text.
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
  // Removes the new files that replacements of path left beside it when their loader died
  // before the move (a kill, a power cut), sparing those that a live loader is still writing.
  virtual void RemoveAbandonedReplacements(const char* path) = 0;
};

inline SmallFileService& SmallFiles() {
  return Use<SmallFileService>();
}

}  // namespace platform
