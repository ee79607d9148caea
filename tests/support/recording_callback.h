// A progress callback for the download tests of every host: like the loader's, it counts no
// references and answers no interfaces; it records each notification, when it came.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows_types.h"

namespace testing_support {

struct Notification {
  std::uint32_t progress = 0;
  std::uint32_t total = 0;
  std::uint32_t status = 0;
  std::wstring text;
  std::chrono::steady_clock::time_point at;
};

class RecordingCallback final : public IBindStatusCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
  ULONG STDMETHODCALLTYPE Release() override { return 0; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG total, ULONG status,
                                       LPCWSTR text) override {
    notes.push_back({static_cast<std::uint32_t>(progress), static_cast<std::uint32_t>(total),
                     static_cast<std::uint32_t>(status), text != nullptr ? text : L"(null)",
                     std::chrono::steady_clock::now()});
    if (onFirstData && status == BINDSTATUS_BEGINDOWNLOADDATA) {
      std::exchange(onFirstData, nullptr)();
    }
    return S_OK;
  }
  // Run once, on the download's own thread, when the body begins to arrive.
  std::function<void()> onFirstData;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

  // The notifications of the data's arrival only (statuses 4, 5 and 6).
  std::vector<Notification> DataNotes() const {
    std::vector<Notification> data;
    for (const Notification& note : notes) {
      if (note.status >= BINDSTATUS_BEGINDOWNLOADDATA &&
          note.status <= BINDSTATUS_ENDDOWNLOADDATA) {
        data.push_back(note);
      }
    }
    return data;
  }

  std::vector<Notification> notes;
};

}  // namespace testing_support
