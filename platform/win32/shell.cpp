// Placeholder until the Win32 implementation lands.
#include "platform/shell.h"

namespace platform {
namespace {

class Pending final : public ShellService {
 public:
  bool CreateShortcut(const wchar_t*, const wchar_t*) override { return false; }
};

}  // namespace

template <>
ShellService& HostService<ShellService>() {
  static Pending service;
  return service;
}

}  // namespace platform
