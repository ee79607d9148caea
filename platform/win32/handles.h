// Handles as every Win32 service keeps them: owned by one object that closes them, and written
// and read whole in chunks the calls can count.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "platform/windows_types.h"

namespace platform {

// Null and INVALID_HANDLE_VALUE are both "no handle", as the calls that make them differ.
inline bool IsHandle(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~OwnedHandle() { Close(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  bool Valid() const { return IsHandle(handle_); }
  HANDLE Get() const { return handle_; }
  // False when closing failed, which for a file written through it can mean lost data.
  bool Close();

 private:
  HANDLE handle_;
};

// The most one ReadFile or WriteFile call is given.
inline constexpr DWORD kMaxTransfer = 1u << 20;

// Writes all of data to handle; false when a write fails or writes nothing.
bool WriteAll(HANDLE handle, std::string_view data);

// Reads from handle until its end or until bytes holds limit bytes, growing the buffer from
// initialSize as the data comes; false on a read error (bytes then holds what was read).
bool ReadUpTo(HANDLE handle, std::size_t limit, std::string& bytes, std::size_t initialSize);

}  // namespace platform
