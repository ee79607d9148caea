#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/device_root.h"
#include "platform/linux/utf8.h"
#include "platform/system_info.h"
#include "platform/text.h"

namespace platform {
namespace {

// Reads the first line of a file, without its line end; false when the file cannot be read.
// Reading stops after limit bytes: a longer line could not be handed back anyway.
bool ReadFirstLine(const std::string& path, std::size_t limit, std::string& line) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  line.clear();
  bool readable = true;
  char buffer[256];
  while (line.size() <= limit) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      readable = got == 0;
      break;
    }
    line.append(buffer, static_cast<std::size_t>(got));
    if (line.find_first_of("\r\n") != std::string::npos) {
      break;
    }
  }
  close(fd);
  line = line.substr(0, line.find_first_of("\r\n"));
  return readable;
}

class LinuxSystemInfo final : public SystemInfoService {
 public:
  bool QueryVersion(bool& isWindowsCe) override {
    isWindowsCe = true;
    return true;
  }

  bool QueryPlatformType(std::span<wchar_t> type) override {
    std::string line;
    if (!ReadFirstLine(ToHostPath(std::string_view("Windows\\PlatformType")), type.size() * 4 + 8,
                       line)) {
      return false;
    }
    // An editor may have put a byte-order mark in front; it is not part of the text.
    if (line.starts_with("\xEF\xBB\xBF")) {
      line.erase(0, 3);
    }
    return CopyText(type, FromUtf8(line).c_str());
  }
};

}  // namespace

template <>
SystemInfoService& HostService<SystemInfoService>() {
  static LinuxSystemInfo service;
  return service;
}

}  // namespace platform
