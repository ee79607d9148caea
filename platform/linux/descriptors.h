// Reading and writing descriptors as every Linux service does it: a call that a signal
// interrupts (EINTR) is made again, a write goes on until all is written, a read never takes
// more than it was allowed.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Makes call() again for as long as it fails with EINTR; returns its last result.
template <class Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) {
      return result;
    }
  }
}

// Writes all of data to fd; false when a write fails or writes nothing.
bool WriteAll(int fd, std::string_view data);

// Reads from fd until its end or until bytes holds limit bytes, growing the buffer from
// initialSize as the data comes; false on a read error (bytes then holds what was read).
bool ReadUpTo(int fd, std::size_t limit, std::string& bytes, std::size_t initialSize = 4096);

// Opens path for reading without ever waiting: a pipe or device planted there neither blocks
// the open nor becomes the process's terminal. -1 on failure.
int OpenToRead(const std::string& path);

}  // namespace platform
