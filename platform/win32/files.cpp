// Placeholder until the Win32 implementation lands.
#include "platform/files.h"

namespace platform {
namespace {

class Pending final : public FileService {
 public:
  CreateFolderResult CreateFolder(const wchar_t*) override {
    return CreateFolderResult::OtherError;
  }
  DWORD GetAttributes(const wchar_t*) override { return INVALID_FILE_ATTRIBUTES; }
  bool DeleteFile(const wchar_t*) override { return false; }
  bool MoveFile(const wchar_t*, const wchar_t*) override { return false; }
  std::unique_ptr<FileSearch> FindFiles(const wchar_t*) override { return nullptr; }
  bool FreeBytesAvailable(const wchar_t*, std::uint64_t&) override { return false; }
};

}  // namespace

template <>
FileService& HostService<FileService>() {
  static Pending service;
  return service;
}

}  // namespace platform
