// Downloads (URLDownloadToCacheFileW and URLDownloadToFileW) reporting to the loader's
// IBindStatusCallback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/service.h"
#include "platform/windows_types.h"

namespace platform {

// Sees a download's body as it arrives, every byte once and in order, before the download
// counts as fetched: a digest taken while the file streams, or a bounded copy of a small one.
class DownloadContentSink {
 public:
  virtual ~DownloadContentSink() = default;
  // The next bytes of the body; false ends the download as failed.
  virtual bool Take(std::span<const std::uint8_t> bytes) = 0;
};

class DownloadService {
 public:
  virtual ~DownloadService() = default;
  // Fetches url whole into a new cache file under the device's Temp folder and writes that
  // file's device path into cachePath. On failure no cache file is left behind. content, when
  // given, sees the body as it arrives.
  virtual HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                                      IBindStatusCallback* callback,
                                      DownloadContentSink* content) = 0;
  // Fetches url into the file at the device path target (created or replaced). A failure may
  // leave a partial target for the caller to delete.
  virtual HRESULT DownloadToFile(const wchar_t* url, const wchar_t* target,
                                 IBindStatusCallback* callback, DownloadContentSink* content) = 0;
  // Removes the copies that downloads of a loader killed mid-way left in the device's Temp
  // folder, leaving those of live downloads alone. Called with the device lock held, when no
  // other loader on the device downloads.
  virtual void RemoveAbandonedCopies() = 0;
};

inline DownloadService& Downloads() {
  return Use<DownloadService>();
}

}  // namespace platform
