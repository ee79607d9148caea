#include "download/progress_callback.h"

#include <cwchar>
#include <span>

#include "loader/status_line.h"
#include "platform/text.h"

void FormatByteCount(std::uint32_t count, wchar_t* out) {
  std::span<wchar_t> text(out, MAX_PATH);
  if (count < 1000) {
    platform::FormatText(text, L"%ld bytes", static_cast<long>(count));
  } else if (count < 1000000) {
    platform::FormatText(text, L"%ld KB", static_cast<long>(count / 1000));
  } else {
    // Counts of a thousand megabytes and more stay in megabytes too.
    platform::FormatText(text, L"%4.2f MB", static_cast<double>(count) / 1000000.0);
  }
}

HRESULT DownloadProgressCallback::QueryInterface(REFIID, void**) {
  return E_NOTIMPL;
}

ULONG DownloadProgressCallback::AddRef() {
  return 0;
}

// Never deletes this: the instance lives on its owner's stack.
ULONG DownloadProgressCallback::Release() {
  return 0;
}

HRESULT DownloadProgressCallback::OnStartBinding(DWORD, IBinding*) {
  return E_NOTIMPL;
}

HRESULT DownloadProgressCallback::GetPriority(LONG*) {
  return E_NOTIMPL;
}

HRESULT DownloadProgressCallback::OnLowResource(DWORD) {
  return E_NOTIMPL;
}

HRESULT DownloadProgressCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                             LPCWSTR statusText) {
  if (statusCode != BINDSTATUS_BEGINDOWNLOADDATA && statusCode != BINDSTATUS_DOWNLOADINGDATA) {
    return S_OK;
  }
  wchar_t received[MAX_PATH];
  wchar_t total[MAX_PATH];
  FormatByteCount(progress, received);
  FormatByteCount(progressMax, total);

  // The status text is the address being fetched; its last segment names the file. The first
  // character is never taken for a separator, so an address whose only "/" leads is shown whole.
  const wchar_t* name = statusText != nullptr ? statusText : L"";
  for (std::size_t i = std::wcslen(name); i > 1; --i) {
    if (name[i - 1] == L'/') {
      name += i;
      break;
    }
  }

  wchar_t status[MAX_PATH];
  if (progressMax != 0) {
    platform::FormatText(std::span<wchar_t>(status), L"%s\r\nDownloaded %s of %s", name, received,
                         total);
  } else {
    platform::FormatText(std::span<wchar_t>(status), L"%s\r\nDownloaded %s (total size unknown)",
                         name, received);
  }
  SetStatusText(context_, status);
  return S_OK;
}

HRESULT DownloadProgressCallback::OnStopBinding(HRESULT, LPCWSTR) {
  return E_NOTIMPL;
}

HRESULT DownloadProgressCallback::GetBindInfo(DWORD*, BINDINFO*) {
  return E_NOTIMPL;
}

HRESULT DownloadProgressCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

HRESULT DownloadProgressCallback::OnObjectAvailable(REFIID, IUnknown*) {
  return E_NOTIMPL;
}
