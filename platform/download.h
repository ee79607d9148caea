// Downloads (URLDownloadToCacheFileW and URLDownloadToFileW) reporting to the loader's
// IBindStatusCallback.
#pragma once

#include <span>

#include "platform/service.h"
#include "platform/windows_types.h"

namespace platform {

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
