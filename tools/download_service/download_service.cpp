// The download service for the demo and the tests: serves the files of one folder at
// /PREFIX/WebService/Downloads/NAME, over HTTP or HTTPS, streamed from disk. Fault switches make
// single names misbehave (missing, cut short, unannounced or false length, slow, silent,
// redirected) so the tests can drive the loader's downloads through every way a server can fail.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "options.h"

namespace {

using download_service::Fail;
using download_service::Options;

constexpr std::size_t kChunk = 64 * 1024;

// Set once a stop signal has arrived; wakes the handlers that hold a request back.
class StopFlag {
 public:
  void Raise() {
    std::lock_guard lock(mutex_);
    raised_ = true;
    changed_.notify_all();
  }
  // Waits until deadline; false when the stop came first.
  bool SleepUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, deadline, [this] { return raised_; });
  }
  void WaitForStop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() { ::close(fd_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The state of one response body while httplib pulls it chunk by chunk.
struct Body {
  std::shared_ptr<OpenFile> file;
  std::uint64_t size = 0;
  std::uint64_t limit = 0;  // bytes to send before closing; size when not cut short
  std::uint64_t rate = 0;   // bytes per second; 0 for full speed
  std::chrono::steady_clock::time_point start{};
  bool started = false;
};

class DownloadService {
 public:
  explicit DownloadService(Options options) : options_(std::move(options)) {
    base_ = options_.prefix.empty() ? "/WebService/Downloads/"
                                    : "/" + options_.prefix + "/WebService/Downloads/";
    if (!options_.log.empty()) {
      log_ = std::fopen(options_.log.c_str(), "a");
      if (log_ == nullptr) {
        Fail("cannot write the log " + options_.log);
      }
    }
  }

  StopFlag& Stop() { return stop_; }

  void Handle(const httplib::Request& request, httplib::Response& response) {
    if (log_ != nullptr) {
      // Written as the request arrives, so that one never answered is there too.
      std::lock_guard lock(logMutex_);
      std::fprintf(log_, "%s %s\n", request.method.c_str(), request.path.c_str());
      std::fflush(log_);
    }
    std::string name;
    if (!NameOf(request.path, name)) {
      NotFound(response);
      return;
    }
    if (options_.silent.count(name) != 0) {
      stop_.WaitForStop();
      response.status = 503;
      return;
    }
    if (options_.missing.count(name) != 0) {
      NotFound(response);
      return;
    }
    if (auto redirect = options_.redirects.find(name); redirect != options_.redirects.end()) {
      const std::string& to = redirect->second;
      response.set_redirect(to.find("://") != std::string::npos ? to : base_ + to);
      // A body the client must not mistake for the file it asked for.
      response.set_content("redirected\n", "text/plain");
      return;
    }
    Send(name, response);
  }

 private:
  bool NameOf(const std::string& path, std::string& name) const {
    if (path.size() <= base_.size() || path.compare(0, base_.size(), base_) != 0) {
      return false;
    }
    name = path.substr(base_.size());
    return name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
           name.find("..") == std::string::npos && name.find('\0') == std::string::npos;
  }

  static void NotFound(httplib::Response& response) {
    response.status = 404;
    response.set_content("not found\n", "text/plain");
  }

  void Send(const std::string& name, httplib::Response& response) {
    // O_NOFOLLOW: a link placed in the folder must not lead outside it.
    int fd = ::open((options_.folder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      NotFound(response);
      return;
    }
    auto body = std::make_shared<Body>();
    body->file = std::make_shared<OpenFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      NotFound(response);
      return;
    }
    body->size = static_cast<std::uint64_t>(info.st_size);
    body->limit = body->size;
    if (auto drop = options_.dropAfter.find(name); drop != options_.dropAfter.end()) {
      body->limit = std::min(body->size, drop->second);
    }
    if (auto slow = options_.slow.find(name); slow != options_.slow.end()) {
      body->rate = slow->second;
    }
    const char* type = "application/octet-stream";
    if (options_.noLength.count(name) != 0) {
      response.set_chunked_content_provider(type,
                                            [this, body](size_t offset, httplib::DataSink& sink) {
                                              if (offset >= body->size) {
                                                sink.done();
                                                return true;
                                              }
                                              return SendChunk(*body, offset, sink);
                                            });
    } else {
      // A length the body never reaches, as a server that would fill the device announces it.
      std::uint64_t announced = body->size;
      if (auto claim = options_.claimLength.find(name); claim != options_.claimLength.end()) {
        announced = claim->second;
      }
      response.set_content_provider(static_cast<size_t>(announced), type,
                                    [this, body](size_t offset, size_t, httplib::DataSink& sink) {
                                      return SendChunk(*body, offset, sink);
                                    });
    }
  }

  // Sends the next piece from offset; false ends the response by closing the connection.
  bool SendChunk(Body& body, std::uint64_t offset, httplib::DataSink& sink) {
    if (offset >= body.limit) {
      return false;
    }
    std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, body.limit - offset));
    if (body.rate != 0) {
      // Pace against the start of the body so that the average rate holds.
      auto now = std::chrono::steady_clock::now();
      if (!body.started) {
        body.started = true;
        body.start = now;
      }
      want = static_cast<std::size_t>(
          std::min<std::uint64_t>(want, std::max<std::uint64_t>(1, body.rate / 20)));
      auto due = body.start + std::chrono::microseconds(offset * 1000000 / body.rate);
      if (due > now && !stop_.SleepUntil(due)) {
        return false;
      }
    }
    char buffer[kChunk];
    ssize_t got = ::pread(body.file->Get(), buffer, want, static_cast<off_t>(offset));
    if (got <= 0) {
      return false;
    }
    return sink.write(buffer, static_cast<size_t>(got));
  }

  Options options_;
  std::string base_;
  StopFlag stop_;
  std::mutex logMutex_;
  std::FILE* log_ = nullptr;  // open until the process ends
};

}  // namespace

int main(int argc, char** argv) {
  Options options = download_service::ParseOptions(argc, argv);
  const bool https = !options.certificate.empty();
  const std::string bind = options.bind;
  const int port = options.port;

  // Stop signals are taken by one thread (sigwait); every other thread, the server's pool
  // included, inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<httplib::Server> server;
  if (https) {
    auto secure =
        std::make_unique<httplib::SSLServer>(options.certificate.c_str(), options.key.c_str());
    if (!secure->is_valid()) {
      Fail("cannot use the certificate " + options.certificate + " with the key " + options.key);
    }
    server = std::move(secure);
  } else {
    server = std::make_unique<httplib::Server>();
  }
  DownloadService service(std::move(options));
  server->Get(".*", [&service](const httplib::Request& request, httplib::Response& response) {
    service.Handle(request, response);
  });
  server->set_logger([](const httplib::Request& request, const httplib::Response& response) {
    std::fprintf(stderr, "%s %s %d\n", request.method.c_str(), request.path.c_str(),
                 response.status);
  });

  int boundPort = port;
  if (port == 0) {
    boundPort = server->bind_to_any_port(bind);
  } else if (!server->bind_to_port(bind, port)) {
    boundPort = -1;
  }
  if (boundPort <= 0) {
    std::fprintf(stderr, "ferrovan-download-service: cannot listen on %s port %d\n", bind.c_str(),
                 port);
    return 1;
  }
  const std::string host = bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
  std::printf("listening on %s://%s:%d\n", https ? "https" : "http", host.c_str(), boundPort);
  std::fflush(stdout);

  std::atomic<bool> stopped = false;
  std::atomic<bool> ended = false;
  std::thread signalWaiter([&] {
    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    stopped = true;
    service.Stop().Raise();
    // stop() does nothing until the server runs: a signal right after start must wait for it.
    while (!ended) {
      if (server->is_running()) {
        server->stop();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const bool listened = server->listen_after_bind();
  ended = true;
  if (!stopped) {
    std::fprintf(stderr, "ferrovan-download-service: the server stopped: %s\n",
                 listened ? "unexpectedly" : "listen failed");
    signalWaiter.detach();
    std::_Exit(1);
  }
  signalWaiter.join();
  return 0;
}
