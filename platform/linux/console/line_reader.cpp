#include "platform/linux/console/line_reader.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/common/console_dialog.h"
#include "platform/linux/descriptors.h"

namespace platform {
namespace {

// One line of input as the edit box takes it (BoundedLine). The readers consume exactly up to
// and including the line end.
class LineReader {
 public:
  void FromFile(int fd);
  void FromPipe(int fd);
  void FromSocket(int fd);
  // Goes on where a reader above stopped, unless the line is already complete.
  void ByteByByte(int fd);
  // The line without its line end; nothing at end of input before any byte.
  std::optional<std::string> Result() { return line_.Result(); }

 private:
  static constexpr std::size_t kChunk = 65536;

  bool Done() const { return line_.Done(); }
  std::size_t Take(const char* bytes, std::size_t count) { return line_.Take(bytes, count); }

  BoundedLine line_;
};

void LineReader::FromFile(int fd) {
  std::vector<char> chunk(kChunk);
  while (!Done()) {
    const ssize_t got = RetryOnInterrupt([&] { return read(fd, chunk.data(), chunk.size()); });
    if (got <= 0) {
      line_.EndOfInput();
      return;
    }
    const std::size_t taken = Take(chunk.data(), static_cast<std::size_t>(got));
    if (taken < static_cast<std::size_t>(got)) {
      // Gives back what lies past the line, for whoever reads the file next.
      lseek(fd, -static_cast<off_t>(static_cast<std::size_t>(got) - taken), SEEK_CUR);
    }
  }
}

void LineReader::FromPipe(int fd) {
  // tee(2) copies what waits in the pipe into a private one without taking it; then exactly the
  // line's bytes are read from the real pipe.
  int peek[2];
  if (pipe2(peek, O_CLOEXEC) != 0) {
    return;
  }
  std::vector<char> chunk(kChunk);
  while (!Done()) {
    const ssize_t copied = RetryOnInterrupt([&] { return tee(fd, peek[1], chunk.size(), 0); });
    if (copied < 0) {
      break;  // not a pipe tee can copy from, or one that never waits: byte by byte then
    }
    if (copied == 0) {
      line_.EndOfInput();
      break;
    }
    const std::size_t available = static_cast<std::size_t>(copied);
    std::size_t seen = 0;
    while (seen < available) {
      const ssize_t got =
          RetryOnInterrupt([&] { return read(peek[0], chunk.data() + seen, available - seen); });
      if (got <= 0) {
        break;
      }
      seen += static_cast<std::size_t>(got);
    }
    std::size_t left = Take(chunk.data(), seen);
    while (left > 0) {
      const ssize_t got = RetryOnInterrupt([&] { return read(fd, chunk.data(), left); });
      if (got <= 0) {
        break;
      }
      left -= static_cast<std::size_t>(got);
    }
    if (seen < available) {
      break;
    }
  }
  close(peek[0]);
  close(peek[1]);
}

void LineReader::FromSocket(int fd) {
  std::vector<char> chunk(kChunk);
  while (!Done()) {
    const ssize_t got =
        RetryOnInterrupt([&] { return recv(fd, chunk.data(), chunk.size(), MSG_PEEK); });
    if (got < 0) {
      return;
    }
    if (got == 0) {
      line_.EndOfInput();
      return;
    }
    std::size_t left = Take(chunk.data(), static_cast<std::size_t>(got));
    while (left > 0) {
      const ssize_t taken = RetryOnInterrupt([&] { return recv(fd, chunk.data(), left, 0); });
      if (taken <= 0) {
        return;
      }
      left -= static_cast<std::size_t>(taken);
    }
  }
}

void LineReader::ByteByByte(int fd) {
  char byte;
  while (!Done()) {
    if (!ReadByte(fd, byte)) {
      line_.EndOfInput();
      return;
    }
    Take(&byte, 1);
  }
}

}  // namespace

bool ReadByte(int fd, char& byte) {
  return RetryOnInterrupt([&] { return read(fd, &byte, 1); }) == 1;
}

std::optional<std::string> ReadBoundedLine(int fd) {
  LineReader reader;
  struct stat status {};
  if (fstat(fd, &status) == 0) {
    // Where the input lets the loader look ahead, it reads in chunks and gives back (or never
    // takes) what lies past the line; elsewhere only byte by byte takes no more than the line.
    if (S_ISREG(status.st_mode)) {
      reader.FromFile(fd);
    } else if (S_ISFIFO(status.st_mode)) {
      reader.FromPipe(fd);
    } else if (S_ISSOCK(status.st_mode)) {
      reader.FromSocket(fd);
    }
  }
  reader.ByteByByte(fd);
  return reader.Result();
}

}  // namespace platform
