// A hand-held's wireless link between the loader and its server, for the benchmarks: a relay on
// 127.0.0.1 that forwards each connection to the server with a one-way delay each way, shares
// one rate among everything it carries towards the client, and, when asked, breaks each
// connection after a number of bytes towards the client (as roaming between access points does).
// It counts the bytes it carried towards the client and keeps the count in a file.
//
//   ferrovan-bench-link-relay UPSTREAM_PORT RATE_BYTES_PER_S DELAY_MS BREAK_BYTES COUNT_FILE
//   (BREAK_BYTES 0: never). Prints "listening on PORT", then runs until killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t rate = 0;
std::chrono::milliseconds delay{0};
std::uint64_t breakBytes = 0;
std::string countFile;
std::atomic<std::uint64_t> carried{0};

// One rate shared by every connection towards the client: a byte may leave at the earliest
// when the link has sent everything before it.
std::mutex linkMutex;
Clock::time_point linkFree = Clock::now();

void WaitForLink(std::size_t bytes) {
  Clock::time_point due;
  {
    std::lock_guard lock(linkMutex);
    const auto now = Clock::now();
    linkFree = std::max(linkFree, now) +
               std::chrono::microseconds(static_cast<std::int64_t>(bytes * 1000000 / rate));
    due = linkFree;
  }
  std::this_thread::sleep_until(due);
}

void WriteCount() {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (std::FILE* file = std::fopen(countFile.c_str(), "w")) {
    std::fprintf(file, "%llu\n", static_cast<unsigned long long>(carried.load()));
    std::fclose(file);
  }
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) {
      return false;
    }
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Carries one direction of a connection; towards the client it is shaped and may break.
void Pump(int from, int to, bool towardsClient) {
  char buffer[16 * 1024];
  std::uint64_t sent = 0;
  for (;;) {
    const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
    if (got <= 0) {
      break;
    }
    auto size = static_cast<std::size_t>(got);
    std::this_thread::sleep_until(Clock::now() + delay);
    if (towardsClient) {
      if (breakBytes != 0) {
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, breakBytes - sent));
      }
      WaitForLink(size);
      carried += size;
    }
    if (!SendAll(to, buffer, size)) {
      break;
    }
    sent += size;
    if (towardsClient && breakBytes != 0 && sent >= breakBytes) {
      break;
    }
  }
  // Either side ending ends the connection both ways, as a link that drops does.
  ::shutdown(from, SHUT_RDWR);
  ::shutdown(to, SHUT_RDWR);
}

void Carry(int client, int upstreamPort) {
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(upstreamPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (server >= 0 &&
      ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const int one = 1;
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread up(Pump, client, server, false);
    Pump(server, client, true);
    up.join();
  }
  if (server >= 0) {
    ::close(server);
  }
  ::close(client);
  WriteCount();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr,
                 "usage: ferrovan-bench-link-relay UPSTREAM_PORT RATE_BYTES_PER_S DELAY_MS "
                 "BREAK_BYTES COUNT_FILE\n");
    return 2;
  }
  const int upstreamPort = std::atoi(argv[1]);
  rate = std::strtoull(argv[2], nullptr, 10);
  delay = std::chrono::milliseconds(std::atoi(argv[3]));
  breakBytes = std::strtoull(argv[4], nullptr, 10);
  countFile = argv[5];
  if (upstreamPort <= 0 || rate == 0) {
    std::fprintf(stderr, "ferrovan-bench-link-relay: a port and a rate above 0 are needed\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  WriteCount();
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 64) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("ferrovan-bench-link-relay");
    return 1;
  }
  std::printf("listening on %d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  for (;;) {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) {
      std::thread(Carry, client, upstreamPort).detach();
    }
  }
}
