// Downloads (URLDownloadToCacheFileW and URLDownloadToFileW stand-ins) and the progress
// interface they report to (IBindStatusCallback).
#pragma once

#include <cstdint>
#include <span>

#include "platform/service.h"

namespace platform {

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);

// Progress notifications (the platform's BINDSTATUS values that the loader looks at).
inline constexpr std::uint32_t BINDSTATUS_BEGINDOWNLOADDATA = 4;
inline constexpr std::uint32_t BINDSTATUS_DOWNLOADINGDATA = 5;
inline constexpr std::uint32_t BINDSTATUS_ENDDOWNLOADDATA = 6;

// The download-progress interface, slot for slot. Only OnProgress is ever called by the
// host's downloads; the others exist because implementers of the interface must provide them.
class IBindStatusCallback {
 public:
  virtual HRESULT QueryInterface(const void* interfaceId, void** object) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;
  virtual HRESULT OnStartBinding(std::uint32_t reserved, void* binding) = 0;
  virtual HRESULT GetPriority(std::int32_t* priority) = 0;
  virtual HRESULT OnLowResource(std::uint32_t reserved) = 0;
  virtual HRESULT OnProgress(std::uint32_t progress, std::uint32_t progressMax,
                             std::uint32_t statusCode, const wchar_t* statusText) = 0;
  virtual HRESULT OnStopBinding(HRESULT result, const wchar_t* error) = 0;
  virtual HRESULT GetBindInfo(std::uint32_t* flags, void* bindInfo) = 0;
  virtual HRESULT OnDataAvailable(std::uint32_t flags, std::uint32_t size, void* format,
                                  void* medium) = 0;
  virtual HRESULT OnObjectAvailable(const void* interfaceId, void* object) = 0;

 protected:
  ~IBindStatusCallback() = default;
};

class DownloadService {
 public:
  virtual ~DownloadService() = default;
  // Fetches url whole into a new cache file under the device's Temp folder and writes that
  // file's device path into cachePath. On failure no cache file is left behind.
  virtual HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                                      IBindStatusCallback* callback) = 0;
  // Fetches url into the file at the device path target (created or replaced). A failure may
  // leave a partial target for the caller to delete.
  virtual HRESULT DownloadToFile(const wchar_t* url, const wchar_t* target,
                                 IBindStatusCallback* callback) = 0;
};

inline DownloadService& Downloads() {
  return Use<DownloadService>();
}

}  // namespace platform
