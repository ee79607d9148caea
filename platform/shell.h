// The shell's shortcut service (SHCreateShortcut stand-in).
#pragma once

#include "platform/service.h"

namespace platform {

class ShellService {
 public:
  virtual ~ShellService() = default;
  // Writes the shortcut file at the device path shortcut, pointing at target, replacing an
  // existing file of that name.
  virtual bool CreateShortcut(const wchar_t* shortcut, const wchar_t* target) = 0;
};

inline ShellService& Shell() {
  return Use<ShellService>();
}

}  // namespace platform
