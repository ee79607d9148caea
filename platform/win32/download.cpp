// Downloads through the URL moniker, bound to a stream: the body is written to the download's
// copy in the device's Temp folder as it arrives, so that a caller's content sink sees every
// byte once (a digest is taken while the file streams, never by reading it again), and the
// internet cache keeps nothing. urlmon judges a transfer only by its connection: an error page
// or a body cut short come back as success, so each download is judged here as well, by the
// HTTP status and the announced length, and what it left behind is removed when it fails.
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/download_limits.h"
#include "platform/download.h"
#include "platform/host.h"
#include "platform/win32/bind_status_bridge.h"
#include "platform/win32/download_cache.h"
#include "platform/win32/download_watchdog.h"
#include "platform/win32/handles.h"
#include "platform/win32/held_file_move.h"
#include "platform/win32/kept_copies.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"

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
  BindStatusBridge& operator*() const { return *bridge_; }

 private:
  BindStatusBridge* bridge_;
};

template <class Interface>
class ComReference {
 public:
  ComReference() = default;
  ~ComReference() {
    if (pointer_ != nullptr) {
      pointer_->Release();
    }
  }
  ComReference(const ComReference&) = delete;
  ComReference& operator=(const ComReference&) = delete;
  Interface** Out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

// Binds url's moniker to a stream with bridge as its callback, and waits until the binding has
// stopped; the binding's result.
HRESULT Bind(const wchar_t* url, BindStatusBridge& bridge) {
  ComReference<IMoniker> moniker;
  HRESULT result = CreateURLMonikerEx(nullptr, url, moniker.Out(), URL_MK_UNIFORM);
  if (FAILED(result)) {
    return result;
  }
  ComReference<IBindCtx> context;
  result = CreateAsyncBindCtx(0, &bridge, nullptr, context.Out());
  if (FAILED(result)) {
    return result;
  }
  ComReference<IStream> stream;
  result = moniker->BindToStorage(context.Get(), nullptr, IID_IStream,
                                  reinterpret_cast<void**>(stream.Out()));
  // The binding goes on by itself and stops later (or has stopped already).
  if (result != S_OK && result != MK_S_ASYNCHRONOUS && result != E_PENDING) {
    return result;
  }
  return bridge.WaitForStop();
}

// S_OK only for a binding that ended well, with a 2xx answer and the whole announced body
// written.
HRESULT Judge(HRESULT result, const BindStatusBridge& bridge) {
  if (bridge.Aborted() || bridge.BodyRefused() || bridge.RedirectRefused()) {
    return E_ABORT;
  }
  if (result != S_OK) {
    return FAILED(result) ? result : E_FAIL;
  }
  const DWORD status = bridge.HttpStatus();
  if (status < 200 || status >= 300) {
    return E_FAIL;
  }
  const std::int64_t announced = bridge.AnnouncedLength();
  if (announced >= 0 && static_cast<std::uint64_t>(announced) != bridge.Received()) {
    return E_FAIL;
  }
  return S_OK;
}

// A kept copy that a download may take instead of a transfer (open in keptFile, checked, and its
// record), and what the download learnt of the version of the file the copy now holds.
struct FetchedVersion {
  OwnedHandle keptFile;
  KeptRecord kept;
  // The part of an earlier try that the download may go on with.
  OwnedHandle partFile;
  KeptRecord part;
  std::string etag;
  std::string lastModified;
  bool fromKept = false;
  bool fromPart = false;
  // The content sink refused the whole body.
  bool refused = false;
};

// The kept copy's bytes as the body, in place of a transfer: written and shown to the sink as a
// body that arrived would be, within the same bounds.
bool FillFromKept(HANDLE kept, HANDLE file, DownloadContentSink* content, std::uint64_t room) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(kept, start, nullptr, FILE_BEGIN)) {
    return false;
  }
  const std::uint64_t bound = std::min(content != nullptr ? content->MaxBytes() : UINT64_MAX, room);
  std::vector<std::uint8_t> chunk(256 * 1024);
  std::uint64_t taken = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(kept, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
      return false;
    }
    if (got == 0) {
      return true;
    }
    if (got > bound - taken) {
      if (content != nullptr && got > content->MaxBytes() - taken) {
        content->TooLarge();
      }
      return false;
    }
    taken += got;
    if (!WriteAll(file, std::string_view(reinterpret_cast<const char*>(chunk.data()), got)) ||
        (content != nullptr && !content->Take({chunk.data(), got}))) {
      return false;
    }
  }
}

// Binds url until the body is whole, or until the transfer broke off (cut short, or stopped by
// the watchdog) without bringing more of the file than the try before, or too often: each break
// after progress is followed by a binding that asks for the rest.
HRESULT FetchResuming(const wchar_t* url, BindStatusBridge& bridge) {
  HRESULT result = E_FAIL;
  for (int resumes = 0;; ++resumes) {
    const std::uint64_t before = bridge.Received();
    {
      const DownloadWatchdog watchdog(bridge);
      result = Judge(Bind(url, bridge), bridge);
    }
    const DWORD status = bridge.HttpStatus();
    const bool resumable = result != S_OK && !bridge.BodyRefused() && !bridge.RedirectRefused() &&
                           (status == 200 || status == 206) &&
                           (bridge.Received() > before || bridge.OtherVersion()) &&
                           !bridge.Validator().empty() && resumes < kMaxResumes;
    if (!resumable) {
      return result;
    }
    bridge.ResumeNext();
  }
}

// Writes the part an earlier try kept to file and shows it to content, as the start of the body
// whose rest the bridge then asks for; the part is gone once taken. False when the body cannot
// start again after a part that could not be read.
bool ContinueFromPart(const wchar_t* url, FetchedVersion& version, HANDLE file,
                      DownloadContentSink* content, std::uint64_t room, BindStatusBridge& bridge) {
  version.fromPart = true;
  const bool filled = FillFromKept(version.partFile.Get(), file, content, room);
  version.partFile.Close();
  DropKeptCopy(url, Kept::kPart);
  if (filled) {
    bridge.ContinueFrom(version.part.size, Utf8ToWide(version.part.etag),
                        Utf8ToWide(version.part.lastModified));
    return true;
  }
  LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
         (content == nullptr || content->Restart());
}

// Fetches url into a new copy in the device's Temp folder, whose device path goes to copy and
// which stays open in file, where no other program can write, move or delete it: what the sink
// judged is what the caller moves. On storage before it counts as fetched, so that a power cut
// leaves no name with missing data. A failed fetch leaves no copy.
HRESULT Fetch(const wchar_t* url, IBindStatusCallback* callback, DownloadContentSink* content,
              std::wstring& copy, OwnedHandle& file, FetchedVersion* version = nullptr) {
  copy = CreateCacheFile(url, file);
  if (copy.empty()) {
    return E_FAIL;
  }
  const std::wstring hostPath = WideHostPath(copy);
  BridgeReference bridge(callback, url);
  HRESULT result = E_FAIL;
  if (file.Valid()) {
    // The room of the volume that holds the copy, which the body must fit in.
    ULARGE_INTEGER available{};
    const std::wstring folder = hostPath.substr(0, hostPath.find_last_of(L"\\/") + 1);
    const std::uint64_t room = GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)
                                   ? available.QuadPart
                                   : UINT64_MAX;
    bridge->WriteBodyTo(file.Get(), content, room);
    const bool kept = version != nullptr && version->keptFile.Valid();
    if (kept) {
      bridge->AskIfChanged(Utf8ToWide(version->kept.etag), Utf8ToWide(version->kept.lastModified));
    }
    // A kept copy of the size that content can prove whole needs no request at all.
    std::uint64_t proven = 0;
    const bool known = kept && content != nullptr && content->ProvesWholeFile(proven) &&
                       proven == version->kept.size;
    if (!known && version != nullptr && version->partFile.Valid() &&
        !ContinueFromPart(url, *version, file.Get(), content, room, *bridge)) {
      result = E_FAIL;
    } else if (!known) {
      result = FetchResuming(url, *bridge);
    }
    if (known || (kept && bridge->NotModified())) {
      version->fromKept = true;
      result = FillFromKept(version->keptFile.Get(), file.Get(), content, room) ? S_OK : E_FAIL;
    }
  }
  if (result == S_OK && !FlushFileBuffers(file.Get())) {
    result = E_FAIL;
  }
  if (result == S_OK && content != nullptr && !content->Complete()) {
    result = E_FAIL;
    if (version != nullptr) {
      version->refused = true;
    }
  }
  if (result != S_OK) {
    const DWORD status = bridge->HttpStatus();
    // Broken where a later try can go on: what arrived is kept as url's part. Status 0: no
    // server answered this try, which went on from a kept part; that part stays.
    if (version != nullptr && !version->refused && !bridge->BodyRefused() &&
        !bridge->RedirectRefused() && (status == 200 || status == 206 || status == 0) &&
        bridge->Received() != 0 && !bridge->Validator().empty()) {
      KeptRecord record;
      record.etag = WideToUtf8(bridge->FileEtag());
      record.lastModified = WideToUtf8(bridge->FileModified());
      KeepCopy(url, file, hostPath, std::move(record), Kept::kPart);
    }
    file.Close();
    DeleteFileW(hostPath.c_str());
    copy.clear();
    return result;
  }
  if (version != nullptr && version->fromKept) {
    version->etag = version->kept.etag;
    version->lastModified = version->kept.lastModified;
    bridge->FinishProgressFromKept(version->kept.size);
  } else {
    if (version != nullptr) {
      version->etag = WideToUtf8(bridge->FileEtag());
      version->lastModified = WideToUtf8(bridge->FileModified());
    }
    bridge->FinishProgress(bridge->Received());
  }
  return S_OK;
}

class UrlMonikerDownloadService final : public DownloadService {
 public:
  HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                              IBindStatusCallback* callback,
                              DownloadContentSink* content) override {
    if (url == nullptr || *url == L'\0' || cachePath.empty()) {
      return E_FAIL;
    }
    cachePath[0] = L'\0';
    std::wstring copy;
    OwnedHandle file;
    const HRESULT result = Fetch(url, callback, content, copy, file);
    if (result != S_OK) {
      return result;
    }
    if (!file.Close() || copy.size() >= cachePath.size()) {
      DeleteFileW(WideHostPath(copy).c_str());  // the caller could not name the copy
      return E_FAIL;
    }
    copy.copy(cachePath.data(), copy.size());
    cachePath[copy.size()] = L'\0';
    return S_OK;
  }

  HRESULT DownloadToFile(const wchar_t* url, const wchar_t* target, IBindStatusCallback* callback,
                         DownloadContentSink* content) override {
    if (url == nullptr || *url == L'\0' || target == nullptr) {
      return E_FAIL;
    }
    return FetchAgainWithoutKeptCopy(url, content, [&](bool useKept, bool& took) {
      return FetchToFile(url, target, callback, content, useKept, took);
    });
  }

  void RemoveAbandonedCopies() override {
    RemoveAbandonedCacheFiles();
    RemoveAbandonedKeptLinks();
  }

 private:
  static HRESULT FetchToFile(const wchar_t* url, const wchar_t* target,
                             IBindStatusCallback* callback, DownloadContentSink* content,
                             bool useKept, bool& tookKept) {
    // Fetched into a copy in Temp and moved over the target while still held, when whole and
    // judged, so that a failed fetch leaves the old target as it was and no other program can
    // change the copy between its check and its move.
    const std::wstring hostPath = WideHostPath(target);
    if (hostPath.empty()) {
      return E_FAIL;
    }
    std::wstring copy;
    OwnedHandle file;
    FetchedVersion version;
    if (useKept) {
      version.keptFile = OpenKeptCopy(url, version.kept);
      version.partFile = OpenKeptCopy(url, version.part, Kept::kPart);
    }
    const HRESULT result = Fetch(url, callback, content, copy, file, &version);
    version.keptFile.Close();
    if (version.partFile.Valid()) {
      version.partFile.Close();  // not taken, as a kept copy was: of no further use
      DropKeptCopy(url, Kept::kPart);
    }
    tookKept = version.fromKept || (version.fromPart && version.refused);
    if (result != S_OK) {
      return result;
    }
    if (!MoveHeldFile(file.Get(), hostPath, true)) {
      file.Close();
      DeleteFileW(WideHostPath(copy).c_str());
      return E_FAIL;
    }
    // The version just placed is kept for the next download of url, when the server named it.
    if (!version.etag.empty() || !version.lastModified.empty()) {
      KeptRecord record;
      record.etag = version.etag;
      record.lastModified = version.lastModified;
      return KeepCopy(url, file, hostPath, std::move(record)) ? S_OK : E_FAIL;
    }
    DropKeptCopy(url);
    return file.Close() ? S_OK : E_FAIL;
  }
};

}  // namespace

template <>
DownloadService& HostService<DownloadService>() {
  static UrlMonikerDownloadService service;
  return service;
}

}  // namespace platform
