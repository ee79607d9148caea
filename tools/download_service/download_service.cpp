// The download service for the demo and the tests: serves the files of one folder at
// /PREFIX/WebService/Downloads/NAME, over HTTP or HTTPS, streamed from disk, with validators,
// conditional requests and ranges as a web server serves static files. Fault switches make
// single names misbehave (missing, cut short, broken every N bytes, unannounced or false length,
// slow, silent, redirected, without ranges) so the tests can drive the loader's downloads through
// every way a server can fail.
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
#include <ctime>
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
  std::uint64_t first = 0;  // the file's byte that the body starts with
  std::uint64_t limit = 0;  // the file's byte before which the connection closes; size when whole
  std::uint64_t rate = 0;   // bytes per second; 0 for full speed
  std::chrono::steady_clock::time_point start{};
  bool started = false;
};

// What identifies one version of a file: a strong ETag from its identity, size and change time,
// and its Last-Modified date in the form HTTP gives it.
struct Validators {
  std::string etag;
  std::string lastModified;
  std::time_t modified = 0;
};

Validators ValidatorsOf(const struct stat& info) {
  Validators validators;
  char etag[80];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx-%llx%09lx\"",
                static_cast<unsigned long long>(info.st_ino),
                static_cast<unsigned long long>(info.st_size),
                static_cast<unsigned long long>(info.st_mtim.tv_sec),
                static_cast<unsigned long>(info.st_mtim.tv_nsec));
  validators.etag = etag;
  validators.modified = info.st_mtim.tv_sec;
  std::tm utc{};
  char date[64];
  ::gmtime_r(&validators.modified, &utc);
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  validators.lastModified = date;
  return validators;
}

// An HTTP date as seconds since 1970; -1 when it is not one.
std::time_t ParseHttpDate(const std::string& text) {
  std::tm utc{};
  const char* end = ::strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return end != nullptr && *end == '\0' ? ::timegm(&utc) : -1;
}

// Whether an If-None-Match list names etag (or is "*"); weak tags match by their opaque part.
bool NoneMatchNames(const std::string& list, const std::string& etag) {
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t comma = list.find(',', at);
    std::string tag = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    at = comma == std::string::npos ? list.size() : comma + 1;
    tag.erase(0, tag.find_first_not_of(' '));
    tag.erase(tag.find_last_not_of(' ') + 1);
    if (tag.rfind("W/", 0) == 0) {
      tag.erase(0, 2);
    }
    if (tag == "*" || tag == etag) {
      return true;
    }
  }
  return false;
}

// One range "bytes=FIRST-" or "bytes=FIRST-LAST" of a file of size bytes, as [first, end); false
// for any other form, several ranges included, which are then answered with the whole file.
bool ParseRange(const std::string& text, std::uint64_t size, std::uint64_t& first,
                std::uint64_t& end, bool& satisfiable) {
  unsigned long long from = 0;
  unsigned long long to = 0;
  int consumed = 0;
  satisfiable = true;
  if (std::sscanf(text.c_str(), "bytes=%llu-%n", &from, &consumed) != 1 || consumed == 0 ||
      text.find(',') != std::string::npos) {
    return false;
  }
  const std::string rest = text.substr(static_cast<std::size_t>(consumed));
  if (rest.empty()) {
    to = size == 0 ? 0 : size - 1;
  } else {
    int more = 0;
    if (std::sscanf(rest.c_str(), "%llu%n", &to, &more) != 1 ||
        static_cast<std::size_t>(more) != rest.size() || to < from) {
      return false;
    }
    to = std::min<unsigned long long>(to, size == 0 ? 0 : size - 1);
  }
  if (from >= size) {
    satisfiable = false;
    return true;
  }
  first = from;
  end = to + 1;
  return true;
}

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
    if (!options_.answers.empty()) {
      answers_ = std::fopen(options_.answers.c_str(), "a");
      if (answers_ == nullptr) {
        Fail("cannot write the log " + options_.answers);
      }
    }
  }

  StopFlag& Stop() { return stop_; }

  void Handle(const httplib::Request& request, httplib::Response& response) {
    Answer(request, response);
    if (answers_ != nullptr) {
      // Before the body goes out, so that a client that has it finds the line written.
      std::lock_guard lock(logMutex_);
      std::fprintf(answers_, "%d %s\n", response.status < 0 ? 200 : response.status,
                   request.path.c_str());
      std::fflush(answers_);
    }
  }

 private:
  void Answer(const httplib::Request& request, httplib::Response& response) {
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
    Send(name, request, response);
  }

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

  void Send(const std::string& name, const httplib::Request& request, httplib::Response& response) {
    // The library answers any Range header with 206 by itself, whatever If-Range says; this
    // service decides on ranges itself, below, and hands the library a body already cut.
    const std::string range = request.get_header_value("Range");
    const_cast<httplib::Request&>(request).ranges.clear();
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
    const Validators validators = ValidatorsOf(info);
    response.set_header("ETag", validators.etag);
    response.set_header("Last-Modified", validators.lastModified);
    if (NotModified(request, validators)) {
      response.status = 304;
      return;
    }
    const bool plain = options_.noLength.count(name) != 0 ||
                       options_.claimLength.count(name) != 0 ||
                       options_.ignoreRanges.count(name) != 0;
    response.set_header("Accept-Ranges", plain ? "none" : "bytes");
    std::uint64_t end = body->size;
    if (!plain && !range.empty() &&
        (options_.ignoreIfRange.count(name) != 0 || RangeApplies(request, validators))) {
      bool satisfiable = true;
      std::uint64_t first = 0;
      if (ParseRange(range, body->size, first, end, satisfiable)) {
        if (!satisfiable) {
          response.status = 416;
          response.set_header("Content-Range", "bytes */" + std::to_string(body->size));
          return;
        }
        body->first = first;
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                 std::to_string(end - 1) + "/" +
                                                 std::to_string(body->size));
      }
    }
    body->limit = end;
    if (auto drop = options_.dropAfter.find(name); drop != options_.dropAfter.end()) {
      body->limit = std::min(body->limit, drop->second);
    }
    if (auto every = options_.breakEvery.find(name);
        every != options_.breakEvery.end() && TakeBreak(name)) {
      body->limit = std::min(body->limit, body->first + every->second);
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
      std::uint64_t announced = end - body->first;
      if (auto claim = options_.claimLength.find(name); claim != options_.claimLength.end()) {
        announced = claim->second;
      }
      response.set_content_provider(static_cast<size_t>(announced), type,
                                    [this, body](size_t offset, size_t, httplib::DataSink& sink) {
                                      return SendChunk(*body, offset, sink);
                                    });
    }
  }

  // Whether this response for name is one to break: all of them, or the first --break-count.
  bool TakeBreak(const std::string& name) {
    const auto count = options_.breakCount.find(name);
    if (count == options_.breakCount.end()) {
      return true;
    }
    std::lock_guard lock(breaksMutex_);
    return breaks_[name]++ < count->second;
  }

  // If-None-Match, when sent, decides alone; else If-Modified-Since.
  static bool NotModified(const httplib::Request& request, const Validators& validators) {
    if (request.has_header("If-None-Match")) {
      return NoneMatchNames(request.get_header_value("If-None-Match"), validators.etag);
    }
    if (request.has_header("If-Modified-Since")) {
      const std::time_t since = ParseHttpDate(request.get_header_value("If-Modified-Since"));
      return since >= 0 && validators.modified <= since;
    }
    return false;
  }

  // A range is served only for the version it was asked against: If-Range must name the strong
  // ETag or be the exact Last-Modified date. Without If-Range it applies as it stands.
  static bool RangeApplies(const httplib::Request& request, const Validators& validators) {
    if (!request.has_header("If-Range")) {
      return true;
    }
    const std::string condition = request.get_header_value("If-Range");
    return condition == validators.etag || condition == validators.lastModified;
  }

  // Sends the next piece from offset, counted from the body's start; false ends the response by
  // closing the connection.
  bool SendChunk(Body& body, std::uint64_t offset, httplib::DataSink& sink) {
    const std::uint64_t at = body.first + offset;
    if (at >= body.limit) {
      return false;
    }
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, body.limit - at));
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
    ssize_t got = ::pread(body.file->Get(), buffer, want, static_cast<off_t>(at));
    if (got <= 0) {
      return false;
    }
    return sink.write(buffer, static_cast<size_t>(got));
  }

  Options options_;
  std::string base_;
  StopFlag stop_;
  std::mutex logMutex_;
  std::mutex breaksMutex_;
  std::map<std::string, std::uint64_t> breaks_;  // responses broken so far, by name
  std::FILE* log_ = nullptr;                     // open until the process ends
  std::FILE* answers_ = nullptr;
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
