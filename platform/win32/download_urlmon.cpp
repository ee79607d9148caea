// Downloads through the URL moniker. urlmon judges a transfer only by its connection: an error
// page or a body cut short come back as S_OK, so each download is judged here as well, by the
// HTTP status and the announced length, and what it left behind is removed when it fails.
#include <cstdint>
#include <cwchar>
#include <string>

#include "platform/download.h"
#include "platform/win32/bind_status_bridge.h"
#include "platform/win32/download_cache.h"
#include "platform/win32/download_watchdog.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"

// After the system's own headers, which it needs.
#include <wininet.h>

namespace platform {
namespace {

// The caller's reference to the bridge, whatever urlmon still holds when the call returns.
class BridgeReference {
 public:
  BridgeReference(IBindStatusCallback* target, const wchar_t* url)
      : bridge_(BindStatusBridge::Create(target, url)) {}
  ~BridgeReference() { bridge_->Release(); }
  BridgeReference(const BridgeReference&) = delete;
  BridgeReference& operator=(const BridgeReference&) = delete;
  BindStatusBridge* operator->() const { return bridge_; }
  BindStatusBridge* Get() const { return bridge_; }

 private:
  BindStatusBridge* bridge_;
};

bool FileSize(const std::wstring& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// On storage before the file counts as downloaded: a power cut then leaves no name with missing
// data.
bool FlushToStorage(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool flushed = FlushFileBuffers(file) != FALSE;
  CloseHandle(file);
  return flushed;
}

// S_OK only for a transfer urlmon finished, with a 2xx answer and the whole announced body in
// path; the size of what arrived goes to received.
HRESULT Judge(HRESULT result, const BindStatusBridge& bridge, const std::wstring& path,
              std::uint64_t& received) {
  if (bridge.Aborted()) {
    return E_ABORT;
  }
  if (result != S_OK) {
    return FAILED(result) ? result : E_FAIL;
  }
  const DWORD status = bridge.HttpStatus();
  if (status < 200 || status >= 300) {
    return E_FAIL;
  }
  if (!FileSize(path, received)) {
    return E_FAIL;
  }
  const std::int64_t announced = bridge.AnnouncedLength();
  if (announced >= 0 && static_cast<std::uint64_t>(announced) != received) {
    return E_FAIL;
  }
  return FlushToStorage(path) ? S_OK : E_FAIL;
}

// The last part of the address's path: what the copy in Temp is named after.
std::wstring NameInUrl(std::wstring_view url) {
  url = url.substr(0, url.find_first_of(L"?#"));
  const std::size_t slash = url.find_last_of(L'/');
  return std::wstring(slash == std::wstring_view::npos ? url : url.substr(slash + 1));
}

constexpr DWORD kMoveWhole =
    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;

class UrlMonikerDownloadService final : public DownloadService {
 public:
  HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                              IBindStatusCallback* callback) override {
    if (url == nullptr || *url == L'\0' || cachePath.empty()) {
      return E_FAIL;
    }
    cachePath[0] = L'\0';
    BridgeReference bridge(callback, url);
    wchar_t path[MAX_PATH] = L"";
    HRESULT fetched;
    {
      const DownloadWatchdog watchdog(*bridge.Get());
      fetched = URLDownloadToCacheFileW(nullptr, url, path, MAX_PATH, 0, bridge.Get());
    }
    path[MAX_PATH - 1] = L'\0';
    std::wstring copy(path);
    std::uint64_t received = 0;
    HRESULT result = Judge(fetched, *bridge.Get(), copy, received);
    // The copy leaves the internet cache for the device's Temp folder, with its index entry
    // gone: the loader moves it away, and an entry would then name a file that is not there.
    // Where it cannot move, it stays in the cache, entry and all.
    if (result == S_OK) {
      const std::wstring kept = CreateCacheFile(NameInUrl(url));
      if (!kept.empty() && kept.size() < cachePath.size() &&
          MoveFileExW(copy.c_str(), WideHostPath(kept).c_str(), kMoveWhole)) {
        DeleteUrlCacheEntryW(url);
        copy = kept;
      } else if (!kept.empty()) {
        DeleteFileW(WideHostPath(kept).c_str());
      }
    }
    if (result == S_OK && copy.size() >= cachePath.size()) {
      result = E_FAIL;  // the caller could not name the copy
    }
    if (result != S_OK) {
      if (!copy.empty()) {
        DeleteFileW(WideHostPath(copy).c_str());
      }
      DeleteUrlCacheEntryW(url);
      return result;
    }
    copy.copy(cachePath.data(), copy.size());
    cachePath[copy.size()] = L'\0';
    bridge->FinishProgress(received);
    return S_OK;
  }

  HRESULT DownloadToFile(const wchar_t* url, const wchar_t* target,
                         IBindStatusCallback* callback) override {
    if (url == nullptr || *url == L'\0' || target == nullptr) {
      return E_FAIL;
    }
    // Fetched into a copy in Temp and moved over the target when whole, so that a failed fetch
    // leaves the old target as it was, and a copy that a killed loader left is swept away.
    const std::wstring hostPath = WideHostPath(target);
    const std::wstring copy = CreateCacheFile(NameInUrl(url));
    if (hostPath.empty() || copy.empty()) {
      return E_FAIL;
    }
    const std::wstring temporary = WideHostPath(copy);
    BridgeReference bridge(callback, url);
    HRESULT fetched;
    {
      const DownloadWatchdog watchdog(*bridge.Get());
      fetched = URLDownloadToFileW(nullptr, url, temporary.c_str(), 0, bridge.Get());
    }
    // urlmon keeps a second copy in the internet cache on the way; the file is all the caller
    // wants.
    DeleteUrlCacheEntryW(url);
    std::uint64_t received = 0;
    HRESULT result = Judge(fetched, *bridge.Get(), temporary, received);
    if (result == S_OK && !MoveFileExW(temporary.c_str(), hostPath.c_str(), kMoveWhole)) {
      result = E_FAIL;
    }
    if (result != S_OK) {
      DeleteFileW(temporary.c_str());
      return result;
    }
    bridge->FinishProgress(received);
    return S_OK;
  }
};

}  // namespace

template <>
DownloadService& HostService<DownloadService>() {
  static UrlMonikerDownloadService service;
  return service;
}

}  // namespace platform
