// Writing something whole, and reading something whole up to a limit with the buffer growing
// as the data comes: the loops every host's readers and writers share. The host supplies the
// read or write call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Writes all of data with writeSome(data, size), which writes at most size bytes and returns how
// many (0 or a negative value for a failure); false when a call fails or writes nothing.
template <class WriteSome>
bool WriteWhole(std::string_view data, WriteSome writeSome) {
  while (!data.empty()) {
    const auto written = writeSome(data.data(), data.size());
    if (written <= 0) {
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Reads into bytes until readSome reports the end (0) or bytes holds limit bytes. readSome(data,
// size) reads at most size bytes into data and returns how many, 0 at the end, or a negative
// value on an error; the buffer starts at initialSize (at most limit). False on an error, with
// what was read before it in bytes.
template <class ReadSome>
bool ReadBounded(std::size_t limit, std::string& bytes, std::size_t initialSize,
                 ReadSome readSome) {
  bytes.resize(std::min(std::max<std::size_t>(initialSize, 1), limit));
  std::size_t length = 0;
  bool readable = true;
  while (length < limit) {
    if (length == bytes.size()) {
      bytes.resize(limit - bytes.size() < bytes.size() ? limit : bytes.size() * 2);
    }
    const auto got = readSome(bytes.data() + length, bytes.size() - length);
    if (got <= 0) {
      readable = got == 0;
      break;
    }
    length += static_cast<std::size_t>(got);
  }
  bytes.resize(length);
  return readable;
}

}  // namespace platform
