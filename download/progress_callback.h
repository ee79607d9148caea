// The download progress shown in the status line.
#pragma once

#include <cstdint>

#include "loader/loader_context.h"
#include "platform/download.h"

// Writes count with a decimal unit into out (MAX_PATH characters).
void FormatByteCount(std::uint32_t count, wchar_t* out);

class DownloadProgressCallback final : public platform::IBindStatusCallback {
 public:
  explicit DownloadProgressCallback(LoaderContext* context) : context_(context) {}
  ~DownloadProgressCallback() = default;

  platform::HRESULT QueryInterface(const void* interfaceId, void** object) override;
  std::uint32_t AddRef() override;
  std::uint32_t Release() override;
  platform::HRESULT OnStartBinding(std::uint32_t reserved, void* binding) override;
  platform::HRESULT GetPriority(std::int32_t* priority) override;
  platform::HRESULT OnLowResource(std::uint32_t reserved) override;
  platform::HRESULT OnProgress(std::uint32_t progress, std::uint32_t progressMax,
                               std::uint32_t statusCode, const wchar_t* statusText) override;
  platform::HRESULT OnStopBinding(platform::HRESULT result, const wchar_t* error) override;
  platform::HRESULT GetBindInfo(std::uint32_t* flags, void* bindInfo) override;
  platform::HRESULT OnDataAvailable(std::uint32_t flags, std::uint32_t size, void* format,
                                    void* medium) override;
  platform::HRESULT OnObjectAvailable(const void* interfaceId, void* object) override;

 private:
  LoaderContext* context_;
};
