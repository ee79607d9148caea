#include "platform/win32/handles.h"

#include <algorithm>

#include "platform/common/transfers.h"

namespace platform {

bool OwnedHandle::Close() {
  const bool closed = !Valid() || CloseHandle(handle_) != FALSE;
  handle_ = INVALID_HANDLE_VALUE;
  return closed;
}

bool WriteAll(HANDLE handle, std::string_view data) {
  return WriteWhole(data, [handle](const char* bytes, std::size_t size) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, kMaxTransfer));
    return WriteFile(handle, bytes, chunk, &written, nullptr) ? static_cast<long long>(written)
                                                              : -1LL;
  });
}

bool ReadUpTo(HANDLE handle, std::size_t limit, std::string& bytes, std::size_t initialSize) {
  return ReadBounded(limit, bytes, initialSize, [handle](char* data, std::size_t size) {
    DWORD got = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, kMaxTransfer));
    return ReadFile(handle, data, chunk, &got, nullptr) ? static_cast<long long>(got) : -1LL;
  });
}

}  // namespace platform
