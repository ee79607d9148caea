// Downloads (URLDownloadToCacheFileW and URLDownloadToFileW) reporting to the loader's
// IBindStatusCallback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/service.h"
#include "platform/windows_types.h"

namespace platform {

// Sees a download's body as it arrives, every byte once and in order, and judges it before the
// download counts as fetched: a digest taken while the file streams, or a bounded copy of a small
// one. A host may call Take on a thread of its own, behind the transfer, but never two calls at
// once, and every Take returns before Complete is called on the caller's thread.
class DownloadContentSink {
 public:
  virtual ~DownloadContentSink() = default;
  // The most bytes the body may have: an announced length above it fails the download before a
  // byte is stored, and a body that runs past it is cut off there.
  virtual std::uint64_t MaxBytes() const { return UINT64_MAX; }
  // Told, on the download's own thread, when the announced length or the body runs past
  // MaxBytes; the download then fails.
  virtual void TooLarge() {}
  // The next bytes of the body; false ends the download as failed.
  virtual bool Take(std::span<const std::uint8_t> bytes) = 0;
  // The body starts again from its first byte: a broken transfer could not be resumed where it
  // stopped (the server sent the whole file again, or the file had changed). False fails the
  // download.
  virtual bool Restart() { return false; }
  // True, with the body's size, when Complete alone proves the bytes to be the file wanted (a
  // digest known beforehand, as a signed release lists it): a host may then show the sink a copy
  // it kept of that size without asking the server whether it changed.
  virtual bool ProvesWholeFile(std::uint64_t& size) const {
    (void)size;
    return false;
  }
  // Once the whole body is stored, while its copy is still open and held by the download and
  // before it is moved anywhere: false fails the download, and its copy is removed.
  virtual bool Complete() { return true; }
};

// A transfer that breaks after it has brought bytes is resumed where it stopped, within the
// bounds of platform/common/download_limits.h; a server that then answers with the whole file
// starts the body again (DownloadContentSink::Restart). What DownloadToFile puts in place is
// kept (platform/common/kept_copies.h) for the next download of the same address, which asks
// whether it changed and takes the kept copy on a 304, showing it to content as a body; so is
// the start of a DownloadToFile that still broke, which the next download of the address goes
// on with. What is kept is the host's, as a device's HTTP cache is its own: the loader's logic
// neither sees nor keeps any of it, and nothing kept is ever taken for a whole file unless it
// hashes as recorded and content judged it.
class DownloadService {
 public:
  virtual ~DownloadService() = default;
  // Fetches url whole into a new cache file under the device's Temp folder and writes that
  // file's device path into cachePath. On failure no cache file is left behind, nor anything
  // kept. content, when given, sees the body as it arrives.
  virtual HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                                      IBindStatusCallback* callback,
                                      DownloadContentSink* content) = 0;
  // Fetches url into the file at the device path target (created or replaced). The file that
  // takes the target's name is the one content judged, held by the download from its first byte
  // to its move, so that no other program changes it in between. A failure leaves the target as
  // it was, and in the device's Temp folder at most the part kept for the next download.
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
