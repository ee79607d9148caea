// Small files by device path, read whole and replaced whole with the host's own calls.
#include "platform/small_files.h"

#include <cstdint>

#include "platform/device_root.h"

namespace platform {
namespace {

// The loader's narrow paths are in its narrow text (the device's ANSI code page).
std::string HostPathOfNarrow(const char* path) {
  return ToHostPath(WidenNarrowText(path));
}

class HostSmallFiles final : public SmallFileService {
 public:
  bool ReadWholeFile(const char* path, std::size_t maxBytes, std::string& content) override {
    content.clear();
    if (path == nullptr) {
      return false;
    }
    // The file may grow while it is read: one byte past the limit tells that it is too large.
    const std::size_t limit = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    if (!ReadFileStart(HostPathOfNarrow(path), limit, content) || content.size() > maxBytes) {
      content.clear();
      return false;
    }
    return true;
  }

  bool ReplaceFile(const char* path, std::string_view content) override {
    return path != nullptr && ReplaceFileContent(HostPathOfNarrow(path), content);
  }

  void RemoveAbandonedReplacements(const char* path) override {
    if (path != nullptr) {
      RemoveAbandonedReplacementsOf(HostPathOfNarrow(path));
    }
  }
};

}  // namespace

template <>
SmallFileService& HostService<SmallFileService>() {
  static HostSmallFiles service;
  return service;
}

}  // namespace platform
