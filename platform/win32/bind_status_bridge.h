// The COM object that the URL moniker binds with. The loader's progress callback is a plain
// object without reference counting or QueryInterface, so urlmon gets this one instead: it
// passes the data notifications on, asks for a fresh copy from the server every time and keeps
// nothing in the internet cache, writes the body to the download's file as it arrives (showing
// it to the caller's content sink), and records the HTTP status that urlmon itself does not
// judge.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/download.h"
#include "platform/windows_types.h"

namespace platform {

class BindStatusBridge final : public IBindStatusCallback,
                               public IHttpNegotiate,
                               public IServiceProvider,
                               public IBindCallbackRedirect {
 public:
  // Made with one reference, the caller's. target may be null; url is the address shown in the
  // progress notifications.
  static BindStatusBridge* Create(IBindStatusCallback* target, std::wstring url);

  // Bridges alive in this process: none once every download has returned.
  static long Live();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IBindStatusCallback
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* bindInfo) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

  // IHttpNegotiate
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                 LPWSTR* additionalHeaders) override;
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD responseCode, LPCWSTR responseHeaders,
                                       LPCWSTR requestHeaders,
                                       LPWSTR* additionalRequestHeaders) override;

  // IServiceProvider: the redirect callback, for the bindings that ask for it as a service.
  HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** object) override;

  // IBindCallbackRedirect: a download asked for over HTTPS stays on HTTPS, and follows at most
  // kMaxRedirects redirects.
  HRESULT STDMETHODCALLTYPE Redirect(LPCWSTR url, VARIANT_BOOL* cancel) override;
  static constexpr int kMaxRedirects = 10;
  // Whether a redirect was refused; the download then fails.
  bool RedirectRefused() const { return redirectRefused_; }

  // The last HTTP status seen; 0 when there was no HTTP response.
  DWORD HttpStatus() const { return httpStatus_; }
  // The whole file's length as the responses announced it (a resumed one, by its Content-Range),
  // unless it was absent or the body was encoded (then the stored file's length differs from
  // it): -1 then.
  std::int64_t AnnouncedLength() const { return announcedLength_; }
  // The validator of the file's version whose bytes the body holds (its strong ETag, else its
  // Last-Modified date); empty when the server gave none, and then no range can be asked on it.
  const std::wstring& Validator() const { return !fileEtag_.empty() ? fileEtag_ : fileModified_; }
  // Prepares this bridge for one more binding that asks for the rest of the same file from
  // Received() on (Range and If-Range), after one that broke off. A 206 that starts there
  // continues the body; a 200 starts it again, with the file emptied and the content sink told
  // (DownloadContentSink::Restart); anything else fails the download.
  void ResumeNext();
  // Prepares the first binding to ask for the rest of a file whose first received bytes, of the
  // version named by etag and lastModified, an earlier download kept and the caller has already
  // written to the body's file and shown to its content sink.
  void ContinueFrom(std::uint64_t received, const std::wstring& etag,
                    const std::wstring& lastModified);
  // Whether the last binding's answer started the body again with another version of the file,
  // whose bytes count as progress however few.
  bool OtherVersion() const { return otherVersion_; }
  // Makes the first binding ask whether the file is still the version named by etag (a strong
  // ETag), else by lastModified: a 304 then ends it with NotModified() set, and its caller puts
  // its kept copy in place.
  void AskIfChanged(const std::wstring& etag, const std::wstring& lastModified);
  bool NotModified() const { return notModified_; }
  // The validators of the version the body holds, as its response gave them (an ETag only when
  // strong).
  const std::wstring& FileEtag() const { return fileEtag_; }
  const std::wstring& FileModified() const { return fileModified_; }
  // Closes the progress of a file taken whole from a kept copy: its size, as done.
  void FinishProgressFromKept(std::uint64_t size);
  // After a successful transfer: closes the progress as a device does (4 and 6 at least once,
  // a last 5 with the final count).
  void FinishProgress(std::uint64_t received);

  // Where the body goes as it arrives: file (the caller's handle, open for writing) and content,
  // which may be null. Set before the binding starts.
  // room is what the device can store: a longer body fails before a byte of it, or where it
  // runs past.
  void WriteBodyTo(HANDLE file, DownloadContentSink* content, std::uint64_t room = UINT64_MAX);
  // The body's bytes written so far; whether writing one failed (or content refused it).
  std::uint64_t Received() const { return received_.load(); }
  bool BodyRefused() const { return bodyRefused_; }
  // Waits, carrying out this thread's messages meanwhile (urlmon reports an asynchronous
  // binding through a window of the thread that started it), until the binding has stopped;
  // the result urlmon stopped it with.
  HRESULT WaitForStop();

  // For the watchdog, from any thread: the tick count (GetTickCount64) of the binding's last sign
  // of life, and whether the server has taken the connection (urlmon is sending the request or
  // has an answer).
  ULONGLONG LastActivity() const { return lastActivity_.load(); }
  bool Connected() const { return connected_.load(); }
  // Aborts the binding (urlmon has no time-outs of its own); the download then fails.
  void Abort();
  bool Aborted() const { return aborted_.load(); }

 private:
  BindStatusBridge(IBindStatusCallback* target, std::wstring url);
  ~BindStatusBridge();

  void Forward(ULONG progress, ULONG progressMax, ULONG statusCode);
  void Active();
  // Whether a 200 or 206 response continues the body (see ResumeNext); records its validator.
  bool TakeResponse(DWORD responseCode, std::wstring_view headers, bool encoded);

  LONG references_ = 1;
  IBindStatusCallback* target_;
  std::wstring url_;
  DWORD httpStatus_ = 0;
  std::int64_t announcedLength_ = -1;
  std::int64_t wholeLength_ = -1;  // the file's length as the response that began it gave it
  bool begun_ = false;
  bool ended_ = false;
  ULONG lastMax_ = 0;
  bool forwardedData_ = false;
  ULONG lastForwardedData_ = 0;

  std::atomic<ULONGLONG> lastActivity_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> aborted_{false};
  std::mutex bindingMutex_;
  IBinding* binding_ = nullptr;  // held between OnStartBinding and OnStopBinding

  HANDLE body_ = INVALID_HANDLE_VALUE;
  DownloadContentSink* content_ = nullptr;
  std::uint64_t room_ = UINT64_MAX;
  std::atomic<std::uint64_t> received_{0};  // read by the watchdog's timer too
  bool bodyRefused_ = false;
  // Set by ResumeNext: where the asked-for range starts, which also offsets urlmon's own counts
  // in the notifications.
  std::uint64_t resumeFrom_ = 0;
  bool resuming_ = false;
  bool otherVersion_ = false;
  std::wstring fileEtag_;
  std::wstring fileModified_;
  std::wstring condition_;  // the header that asks whether the file changed, or empty
  bool notModified_ = false;
  int redirects_ = 0;
  bool redirectRefused_ = false;
  HANDLE stopped_;  // an event, set by OnStopBinding
  HRESULT stopResult_ = E_PENDING;
};

// The value of the header name (case-insensitive) in a block of "Name: value" lines, without
// surrounding blanks; false when absent.
bool FindHeader(std::wstring_view headers, std::wstring_view name, std::wstring& value);

}  // namespace platform
