// Placeholder until the Win32 implementation lands.
#include "platform/small_files.h"

namespace platform {
namespace {

class Pending final : public SmallFileService {
 public:
  bool ReadWholeFile(const char*, std::size_t, std::string&) override { return false; }
  bool ReplaceFile(const char*, std::string_view) override { return false; }
};

}  // namespace

template <>
SmallFileService& HostService<SmallFileService>() {
  static Pending service;
  return service;
}

}  // namespace platform
