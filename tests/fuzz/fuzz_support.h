// What the fuzz programs share: turning the fuzzer's bytes into the loader's texts, and stopping
// with a readable reason when a property does not hold (libFuzzer keeps the input as a crash).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "platform/device_root.h"
#include "platform/host.h"

namespace fuzzing {

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input up to the first line break, and what follows it.
inline std::pair<std::string_view, std::string_view> SplitLine(std::string_view input) {
  const std::size_t end = input.find('\n');
  if (end == std::string_view::npos) {
    return {input, {}};
  }
  return {input.substr(0, end), input.substr(end + 1)};
}

// Seeds are UTF-8 files; malformed bytes become U+FFFD as on the device's conversion.
inline std::wstring Wide(std::string_view utf8) {
  return platform::Utf8ToWide(utf8);
}

[[noreturn]] inline void Fail(const char* what, const std::wstring& detail = L"") {
  std::fprintf(stderr, "property failed: %s\n  %s\n", what, platform::WideToUtf8(detail).c_str());
  std::abort();
}

inline void Check(bool holds, const char* what, const std::wstring& detail = L"") {
  if (!holds) {
    Fail(what, detail);
  }
}

// Makes an emulated device in a fresh scratch folder the device root, once per process; the
// folder goes when the process ends normally (a crash leaves it for a look).
inline const std::string& ScratchDevice() {
  static const std::string root = [] {
    std::string path = (std::filesystem::temp_directory_path() / "ferrovan-fuzz-XXXXXX").string();
    if (mkdtemp(path.data()) == nullptr) {
      Fail("cannot make a scratch device root");
    }
    platform::SetDeviceRoot(path);
    Check(platform::CreateSystemFolders(), "cannot make the device's folders");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(platform::DeviceRoot(), ignored);
    });
    return path;
  }();
  return root;
}

}  // namespace fuzzing
