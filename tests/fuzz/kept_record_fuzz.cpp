// The record of a kept copy, as a download reads it back from the device: a record taken is one
// that writing it again gives byte for byte, so that nothing outside the format is ever taken.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/common/kept_copies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  platform::KeptRecord record;
  if (platform::ParseKeptRecord(text, record) && platform::FormatKeptRecord(record) != text) {
    __builtin_trap();
  }
  return 0;
}
