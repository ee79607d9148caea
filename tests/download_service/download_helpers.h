// What the download tests share: a running download service, a progress recorder, and an
// emulated device to download into.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/download.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace download_testing {

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
                                       const wchar_t* text) override {
    notes.push_back({progress, total, status, text != nullptr ? text : L"(null)",
                     std::chrono::steady_clock::now()});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

  std::vector<Notification> notes;
};

// A ferrovan-download-service serving folder, started with extra switches.
class Service {
 public:
  Service(const std::string& folder, std::vector<std::string> switches);
  // "http://127.0.0.1:PORT/FerroVanService/WebService/Downloads/" (or https).
  const std::string& Base() const { return base_; }
  std::wstring Url(const std::string& name) const;
  testing_support::BackgroundProcess& Process() { return *process_; }

 private:
  std::unique_ptr<testing_support::BackgroundProcess> process_;
  std::string base_;
};

// A device root in a fresh temporary folder, with its system folders.
class Device {
 public:
  Device();
  const std::string& Root() const { return folder_.Path(); }
  std::string Host(const std::wstring& devicePath) const;
  std::vector<std::string> TempFiles() const;

 private:
  testing_support::TempDir folder_;
};

std::wstring Wide(const std::string& text);
std::string PseudoRandomBytes(std::size_t size, unsigned seed);
// Mode bits a new file gets here: 0777 less the umask.
unsigned ExpectedFileMode();
unsigned ModeOf(const std::string& path);

}  // namespace download_testing
