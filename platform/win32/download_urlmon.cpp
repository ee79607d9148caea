// Placeholder until the Win32 implementation lands.
#include "platform/download.h"

namespace platform {
namespace {

class Pending final : public DownloadService {
 public:
  HRESULT DownloadToCacheFile(const wchar_t*, std::span<wchar_t>, IBindStatusCallback*) override {
    return E_FAIL;
  }
  HRESULT DownloadToFile(const wchar_t*, const wchar_t*, IBindStatusCallback*) override {
    return E_FAIL;
  }
};

}  // namespace

template <>
DownloadService& HostService<DownloadService>() {
  static Pending service;
  return service;
}

}  // namespace platform
