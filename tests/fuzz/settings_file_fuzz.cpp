// ReadServerAddress on whatever a settings file may hold: the file is written into a scratch
// device's install folder and read as the loader reads it at start-up.
// Input: the file's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <fstream>
#include <memory>
#include <string>

#include "loader/loader_context.h"
#include "platform/device_root.h"
#include "settings/settings_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Device {
  Device() {
    fuzzing::ScratchDevice();
    context = std::make_unique<LoaderContext>();
    const std::string installFolder = platform::ToHostPath(std::wstring_view(context->installDir));
    std::filesystem::create_directories(installFolder);
    settingsFile = installFolder + "RFConfig.xml";
  }
  std::unique_ptr<LoaderContext> context;
  std::string settingsFile;
};

bool IsStrippedSpace(wchar_t c) {
  return c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r' || c == L' ';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Device device;
  {
    // Removed rather than truncated: a file system may flush a truncated file's blocks on
    // close, which makes each run wait for the disk.
    std::filesystem::remove(device.settingsFile);
    std::ofstream file(device.settingsFile, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    fuzzing::Check(static_cast<bool>(file), "cannot write the settings file");
  }

  // Exactly MAX_PATH characters, on the heap, so that one more is caught.
  const auto address = std::make_unique<wchar_t[]>(MAX_PATH);
  const std::wstring before = L"kept.example:8080/";
  std::copy(before.begin(), before.end(), address.get());
  address[before.size()] = L'\0';
  ReadServerAddress(device.context.get(), address.get());

  const std::size_t length = wcsnlen(address.get(), MAX_PATH);
  fuzzing::Check(length < MAX_PATH, "the address has no terminator");
  const std::wstring read(address.get(), length);
  if (read != before) {
    fuzzing::Check(std::none_of(read.begin(), read.end(), IsStrippedSpace),
                   "white space kept in the address", read);
  }
  return 0;
}
