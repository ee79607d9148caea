#include "platform/win32/bind_status_bridge.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <utility>

namespace platform {
namespace {

LONG liveBridges = 0;

// The loader must never be handed an old copy: not from the internet cache, nor from a proxy;
// and it keeps its own copy, so the internet cache keeps none.
constexpr DWORD kFreshCopy =
    BINDF_GETNEWESTVERSION | BINDF_RESYNCHRONIZE | BINDF_PRAGMA_NO_CACHE | BINDF_NOWRITECACHE;
// The body comes as a stream, pulled as it arrives, while the binding runs on its own.
constexpr DWORD kStreamed = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA;
constexpr DWORD kReadChunk = 64 * 1024;
constexpr wchar_t kNoCacheHeader[] = L"Cache-Control: no-cache\r\n";

// The scheme of an absolute address ("https" of "https://..."); empty for a relative one.
std::wstring_view SchemeOf(std::wstring_view address) {
  const std::size_t colon = address.find(L':');
  if (colon == std::wstring_view::npos || colon == 0) {
    return {};
  }
  for (std::size_t i = 0; i < colon; ++i) {
    const wchar_t c = address[i];
    const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    if (!letter && (i == 0 || !((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'))) {
      return {};
    }
  }
  return address.substr(0, colon);
}

bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) {
      return false;
    }
  }
  return true;
}

std::wstring_view Trimmed(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t' || text.back() == L'\r')) {
    text.remove_suffix(1);
  }
  return text;
}

ULONG Clamp32(std::uint64_t value) {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(value);
}

// Whether a header's value can go into a request header and a record as it stands.
bool Printable(std::wstring_view value) {
  for (wchar_t c : value) {
    if (c < 0x20 || c == 0x7f) {
      return false;
    }
  }
  return true;
}

// A whole decimal number that fits; -1 otherwise.
std::int64_t ParseLength(std::wstring_view text) {
  if (text.empty() || text.size() > 18) {
    return -1;
  }
  std::int64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') {
      return -1;
    }
    value = value * 10 + (c - L'0');
  }
  return value;
}

}  // namespace

bool FindHeader(std::wstring_view headers, std::wstring_view name, std::wstring& value) {
  while (!headers.empty()) {
    const std::size_t end = headers.find(L'\n');
    std::wstring_view line = headers.substr(0, end);
    headers = end == std::wstring_view::npos ? std::wstring_view() : headers.substr(end + 1);
    const std::size_t colon = line.find(L':');
    if (colon != std::wstring_view::npos &&
        SameTextIgnoringCase(Trimmed(line.substr(0, colon)), name)) {
      value = std::wstring(Trimmed(line.substr(colon + 1)));
      return true;
    }
  }
  return false;
}

BindStatusBridge* BindStatusBridge::Create(IBindStatusCallback* target, std::wstring url) {
  return new BindStatusBridge(target, std::move(url));
}

BindStatusBridge::BindStatusBridge(IBindStatusCallback* target, std::wstring url)
    : target_(target),
      url_(std::move(url)),
      lastActivity_(GetTickCount64()),
      stopped_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  InterlockedIncrement(&liveBridges);
}

BindStatusBridge::~BindStatusBridge() {
  if (binding_ != nullptr) {
    binding_->Release();
  }
  if (stopped_ != nullptr) {
    CloseHandle(stopped_);
  }
  InterlockedDecrement(&liveBridges);
}

void BindStatusBridge::WriteBodyTo(HANDLE file, DownloadContentSink* content, std::uint64_t room) {
  body_ = file;
  content_ = content;
  room_ = room;
}

void BindStatusBridge::AskIfChanged(const std::wstring& etag, const std::wstring& lastModified) {
  condition_ = !etag.empty() ? L"If-None-Match: " + etag + L"\r\n"
                             : L"If-Modified-Since: " + lastModified + L"\r\n";
}

void BindStatusBridge::FinishProgressFromKept(std::uint64_t size) {
  lastMax_ = Clamp32(size);
  FinishProgress(size);
}

void BindStatusBridge::ContinueFrom(std::uint64_t received, const std::wstring& etag,
                                    const std::wstring& lastModified) {
  received_.store(received);
  fileEtag_ = etag;
  fileModified_ = lastModified;
  ResumeNext();
}

void BindStatusBridge::ResumeNext() {
  resumeFrom_ = received_.load();
  resuming_ = true;
  otherVersion_ = false;
  httpStatus_ = 0;
  announcedLength_ = -1;
  redirects_ = 0;
  stopResult_ = E_PENDING;
  connected_.store(false);
  aborted_.store(false);
  Active();
  if (stopped_ != nullptr) {
    ResetEvent(stopped_);
  }
}

HRESULT BindStatusBridge::WaitForStop() {
  if (stopped_ == nullptr) {
    return E_FAIL;
  }
  while (WaitForSingleObject(stopped_, 0) == WAIT_TIMEOUT) {
    MsgWaitForMultipleObjects(1, &stopped_, FALSE, INFINITE, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return stopResult_;
}

void BindStatusBridge::Active() {
  lastActivity_.store(GetTickCount64());
}

void BindStatusBridge::Abort() {
  aborted_.store(true);
  std::lock_guard lock(bindingMutex_);
  if (binding_ != nullptr) {
    binding_->Abort();
  }
}

long BindStatusBridge::Live() {
  return InterlockedCompareExchange(&liveBridges, 0, 0);
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (riid == IID_IHttpNegotiate) {
    *object = static_cast<IHttpNegotiate*>(this);
  } else if (riid == IID_IServiceProvider) {
    *object = static_cast<IServiceProvider*>(this);
  } else if (riid == IID_IBindCallbackRedirect) {
    *object = static_cast<IBindCallbackRedirect*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE BindStatusBridge::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE BindStatusBridge::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) {
    delete this;
  }
  return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::OnStartBinding(DWORD, IBinding* binding) {
  Active();
  if (binding != nullptr) {
    binding->AddRef();
    std::lock_guard lock(bindingMutex_);
    if (binding_ != nullptr) {
      binding_->Release();
    }
    binding_ = binding;
  }
  // A watchdog that fired before urlmon handed over the binding could not stop it then.
  return aborted_.load() ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::GetPriority(LONG*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::OnLowResource(DWORD) {
  return S_OK;
}

void BindStatusBridge::Forward(ULONG progress, ULONG progressMax, ULONG statusCode) {
  if (statusCode == BINDSTATUS_DOWNLOADINGDATA) {
    forwardedData_ = true;
    lastForwardedData_ = progress;
  }
  if (target_ != nullptr) {
    target_->OnProgress(progress, progressMax, statusCode, url_.c_str());
  }
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::OnProgress(ULONG progress, ULONG progressMax,
                                                       ULONG statusCode, LPCWSTR statusText) {
  Active();
  if (statusCode != BINDSTATUS_FINDINGRESOURCE && statusCode != BINDSTATUS_CONNECTING) {
    connected_.store(true);
  }
  if (aborted_.load()) {
    return E_ABORT;
  }
  if (httpStatus_ >= 400) {
    return E_ABORT;  // the server's error page is not worth fetching: the download has failed
  }
  if (statusCode == BINDSTATUS_REDIRECTING) {
    // The binding follows redirects by itself and says so first; one that the policy refuses
    // ends it, and nothing of the other address is stored.
    VARIANT_BOOL cancel = VARIANT_FALSE;
    Redirect(statusText, &cancel);
    if (cancel == VARIANT_TRUE) {
      Abort();  // as the watchdog ends a binding, so that urlmon lets go of it
    }
    return S_OK;
  }
  switch (statusCode) {
    case BINDSTATUS_BEGINDOWNLOADDATA:
    case BINDSTATUS_DOWNLOADINGDATA:
      // urlmon counts the bytes of this response: a resumed one counts on from where it began.
      progress = Clamp32(resumeFrom_ + progress);
      progressMax = progressMax != 0 ? Clamp32(resumeFrom_ + progressMax) : 0;
      lastMax_ = progressMax;
      if (!begun_) {
        begun_ = true;
        Forward(progress, progressMax, BINDSTATUS_BEGINDOWNLOADDATA);
      } else {
        Forward(progress, progressMax, BINDSTATUS_DOWNLOADINGDATA);
      }
      return S_OK;
    case BINDSTATUS_ENDDOWNLOADDATA:
      // Told once the transfer has been judged whole (FinishProgress): a body cut short also
      // ends here.
      lastMax_ = progressMax != 0 ? Clamp32(resumeFrom_ + progressMax) : 0;
      return S_OK;
    default:
      if (target_ != nullptr) {
        target_->OnProgress(progress, progressMax, statusCode, statusText);
      }
      return S_OK;
  }
}

void BindStatusBridge::FinishProgress(std::uint64_t received) {
  if (ended_) {
    return;
  }
  ended_ = true;
  const ULONG count = received > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(received);
  const ULONG total = lastMax_;
  if (!begun_) {
    begun_ = true;
    Forward(count, total, BINDSTATUS_BEGINDOWNLOADDATA);  // an empty body still begins
  }
  if (!forwardedData_ || lastForwardedData_ != count) {
    Forward(count, total, BINDSTATUS_DOWNLOADINGDATA);  // the status line shows the whole file
  }
  Forward(count, total, BINDSTATUS_ENDDOWNLOADDATA);
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::OnStopBinding(HRESULT result, LPCWSTR) {
  {
    std::lock_guard lock(bindingMutex_);
    if (binding_ != nullptr) {
      binding_->Release();
      binding_ = nullptr;
    }
  }
  stopResult_ = result;
  if (stopped_ != nullptr) {
    SetEvent(stopped_);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::GetBindInfo(DWORD* flags, BINDINFO* bindInfo) {
  if (flags == nullptr || bindInfo == nullptr || bindInfo->cbSize < sizeof(DWORD)) {
    return E_INVALIDARG;
  }
  // Added to what the binding asks for itself.
  *flags |= kFreshCopy | kStreamed;
  const DWORD size = bindInfo->cbSize;
  std::memset(bindInfo, 0, size);
  bindInfo->cbSize = size;
  if (size >= offsetof(BINDINFO, dwBindVerb) + sizeof(bindInfo->dwBindVerb)) {
    bindInfo->dwBindVerb = BINDVERB_GET;
  }
  return S_OK;
}

// Takes what the stream holds now: to its end (S_FALSE) or until more has to come (E_PENDING).
HRESULT STDMETHODCALLTYPE BindStatusBridge::OnDataAvailable(DWORD, DWORD, FORMATETC*,
                                                            STGMEDIUM* medium) {
  Active();
  if (aborted_.load() || bodyRefused_ || redirectRefused_) {
    return E_ABORT;
  }
  if (medium == nullptr || medium->tymed != TYMED_ISTREAM || medium->pstm == nullptr) {
    return S_OK;
  }
  static thread_local std::uint8_t chunk[kReadChunk];
  for (;;) {
    ULONG got = 0;
    const HRESULT read = medium->pstm->Read(chunk, kReadChunk, &got);
    if (got > 0) {
      // A body that runs past what the caller takes, or past the room the device has, is cut off
      // there, whatever its length said.
      const std::uint64_t sinkMax = content_ != nullptr ? content_->MaxBytes() : UINT64_MAX;
      if (got > std::min(sinkMax, room_) - received_) {
        if (got > sinkMax - received_) {
          content_->TooLarge();
        }
        bodyRefused_ = true;
        return E_ABORT;
      }
      DWORD written = 0;
      const bool stored = body_ != INVALID_HANDLE_VALUE &&
                          WriteFile(body_, chunk, got, &written, nullptr) && written == got;
      if (!stored || (content_ != nullptr && !content_->Take({chunk, got}))) {
        bodyRefused_ = true;
        return E_ABORT;
      }
      received_ += got;
    }
    if (read != S_OK || got == 0) {
      return S_OK;
    }
  }
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::OnObjectAvailable(REFIID, IUnknown*) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                                 LPWSTR* additionalHeaders) {
  if (additionalHeaders == nullptr) {
    return E_INVALIDARG;
  }
  std::wstring text = kNoCacheHeader;
  if (!resuming_) {
    text += condition_;
  }
  if (resuming_) {
    // The rest of the same version of the file; a server that cannot tell sends it whole.
    text += L"Range: bytes=" + std::to_wstring(resumeFrom_) + L"-\r\nIf-Range: " + Validator() +
            L"\r\n";
  }
  // urlmon frees the text with CoTaskMemFree.
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* headers = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (headers != nullptr) {
    std::memcpy(headers, text.c_str(), bytes);
  }
  *additionalHeaders = headers;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::OnResponse(DWORD responseCode, LPCWSTR responseHeaders,
                                                       LPCWSTR, LPWSTR* additionalRequestHeaders) {
  if (additionalRequestHeaders != nullptr) {
    *additionalRequestHeaders = nullptr;
  }
  Active();
  connected_.store(true);
  httpStatus_ = responseCode;
  announcedLength_ = -1;
  const std::wstring_view headers = responseHeaders != nullptr ? responseHeaders : L"";
  std::wstring value;
  const bool encoded =
      FindHeader(headers, L"Content-Encoding", value) && !SameTextIgnoringCase(value, L"identity");
  if (!encoded && FindHeader(headers, L"Content-Length", value)) {
    announcedLength_ = ParseLength(value);
  }
  if (responseCode == 304) {
    // Only a question asked may be answered so: the kept copy is the file. Either way this
    // binding has nothing more to bring.
    notModified_ = !condition_.empty() && !resuming_;
    bodyRefused_ = !notModified_;
    Abort();
    return S_OK;
  }
  const bool success = responseCode >= 200 && responseCode < 300;
  if (success && !TakeResponse(responseCode, headers, encoded)) {
    bodyRefused_ = true;
    Abort();
    return S_OK;
  }
  // A length larger than the caller takes, or than the device can store, fails the download
  // before a byte of its body.
  const std::uint64_t sinkMax = content_ != nullptr ? content_->MaxBytes() : UINT64_MAX;
  if (announcedLength_ >= 0 &&
      static_cast<std::uint64_t>(announcedLength_) > std::min(sinkMax, room_)) {
    if (static_cast<std::uint64_t>(announcedLength_) > sinkMax) {
      content_->TooLarge();
    }
    bodyRefused_ = true;
    Abort();  // as the watchdog ends a binding, so that urlmon lets go of it
  }
  return S_OK;
}

bool BindStatusBridge::TakeResponse(DWORD responseCode, std::wstring_view headers, bool encoded) {
  if (responseCode != 200 && responseCode != 206) {
    return !resuming_;  // another success answers a first request only
  }
  // A weak ETag names a file that may differ byte for byte, and a decoded body is counted in other
  // bytes than a range would be: no range is asked on either, and nothing is kept.
  std::wstring etag;
  std::wstring modified;
  std::wstring value;
  if (!encoded) {
    if (FindHeader(headers, L"ETag", value) && value.rfind(L"W/", 0) != 0 && Printable(value)) {
      etag = value;
    }
    if (FindHeader(headers, L"Last-Modified", value) && Printable(value)) {
      modified = value;
    }
  }
  if (responseCode == 206) {
    // "bytes FIRST-LAST/TOTAL", starting where the body stands, of the version the range was
    // asked on and of the length known: a server that ignored If-Range would splice two versions.
    if (!resuming_ || !FindHeader(headers, L"Content-Range", value) ||
        value.rfind(L"bytes ", 0) != 0) {
      return false;
    }
    const std::size_t dash = value.find(L'-');
    const std::size_t slash = value.find(L'/');
    if (dash == std::wstring::npos || slash == std::wstring::npos || dash < 6 ||
        ParseLength(std::wstring_view(value).substr(6, dash - 6)) !=
            static_cast<std::int64_t>(received_.load())) {
      return false;
    }
    const std::int64_t whole = ParseLength(std::wstring_view(value).substr(slash + 1));
    const bool sameVersion = !fileEtag_.empty() ? etag == fileEtag_ : modified == fileModified_;
    if (!sameVersion || (wholeLength_ >= 0 && whole != wholeLength_)) {
      return false;
    }
    announcedLength_ = whole;
    return true;
  }
  if (resuming_ || received_.load() != 0) {
    // The whole file again: the body starts again.
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(body_, start, nullptr, FILE_BEGIN) || !SetEndOfFile(body_) ||
        (content_ != nullptr && !content_->Restart())) {
      return false;
    }
    received_.store(0);
    resumeFrom_ = 0;
    otherVersion_ = etag != fileEtag_ || modified != fileModified_;
  }
  wholeLength_ = announcedLength_;
  fileEtag_ = etag;
  fileModified_ = modified;
  return true;
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::QueryService(REFGUID service, REFIID riid,
                                                         void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (service == IID_IBindCallbackRedirect) {
    return QueryInterface(riid, object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE BindStatusBridge::Redirect(LPCWSTR url, VARIANT_BOOL* cancel) {
  if (cancel == nullptr) {
    return E_POINTER;
  }
  Active();
  const std::wstring_view to = url != nullptr ? url : L"";
  ++redirects_;
  // An address without a scheme of its own (a path, or "//host/path") keeps the scheme of the
  // one it was reached from.
  const std::wstring_view toScheme = SchemeOf(to);
  const bool refused = redirects_ > kMaxRedirects ||
                       (SameTextIgnoringCase(SchemeOf(url_), L"https") && !toScheme.empty() &&
                        !SameTextIgnoringCase(toScheme, L"https"));
  redirectRefused_ = redirectRefused_ || refused;
  *cancel = refused ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

}  // namespace platform
