#include "platform/linux/descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/common/transfers.h"

namespace platform {

bool WriteAll(int fd, std::string_view data) {
  return WriteWhole(data, [fd](const char* bytes, std::size_t size) {
    return RetryOnInterrupt([&] { return ::write(fd, bytes, size); });
  });
}

bool ReadUpTo(int fd, std::size_t limit, std::string& bytes, std::size_t initialSize) {
  return ReadBounded(limit, bytes, initialSize, [fd](char* data, std::size_t size) {
    return RetryOnInterrupt([&] { return ::read(fd, data, size); });
  });
}

int OpenToRead(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

}  // namespace platform
