#include "download/progress_callback.h"

#include <cwchar>
#include <span>

#include "loader/loader_dialog.h"
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

platform::HRESULT DownloadProgressCallback::QueryInterface(const void*, void**) {
  return platform::E_NOTIMPL;
}

std::uint32_t DownloadProgressCallback::AddRef() {
  return 0;
}

// Never deletes this: the instance lives on its owner's stack.
std::uint32_t DownloadProgressCallback::Release() {
  return 0;
}

platform::HRESULT DownloadProgressCallback::OnStartBinding(std::uint32_t, void*) {
  return platform::E_NOTIMPL;
}

platform::HRESULT DownloadProgressCallback::GetPriority(std::int32_t*) {
  return platform::E_NOTIMPL;
}

platform::HRESULT DownloadProgressCallback::OnLowResource(std::uint32_t) {
  return platform::E_NOTIMPL;
}

platform::HRESULT DownloadProgressCallback::OnProgress(std::uint32_t progress,
                                                       std::uint32_t progressMax,
                                                       std::uint32_t statusCode,
                                                       const wchar_t* statusText) {
  if (statusCode != platform::BINDSTATUS_BEGINDOWNLOADDATA &&
      statusCode != platform::BINDSTATUS_DOWNLOADINGDATA) {
    return platform::S_OK;
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
  return platform::S_OK;
}

platform::HRESULT DownloadProgressCallback::OnStopBinding(platform::HRESULT, const wchar_t*) {
  return platform::E_NOTIMPL;
}

platform::HRESULT DownloadProgressCallback::GetBindInfo(std::uint32_t*, void*) {
  return platform::E_NOTIMPL;
}

platform::HRESULT DownloadProgressCallback::OnDataAvailable(std::uint32_t, std::uint32_t, void*,
                                                            void*) {
  return platform::E_NOTIMPL;
}

platform::HRESULT DownloadProgressCallback::OnObjectAvailable(const void*, void*) {
  return platform::E_NOTIMPL;
}
