// The libcurl downloads against the real download service: what arrives on disk, what the
// progress callback hears, and that every way a server can fail is a failure with nothing left
// in the device's Temp folder.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/device_root.h"
#include "platform/download.h"
#include "platform/linux/download_cache.h"
#include "tests/download_service/download_helpers.h"
#include "tests/e2e/nginx_site.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using download_testing::Device;
using download_testing::Notification;
using download_testing::PseudoRandomBytes;
using download_testing::RecordingCallback;
using download_testing::Service;
using download_testing::Wide;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Every transfer reports 4 first, then only 5s, with the address as text, counts that never
// fall, the given total throughout, and the whole size last.
void ExpectProgress(const std::vector<Notification>& notes, const std::wstring& url,
                    std::size_t size, std::uint32_t total) {
  ASSERT_GE(notes.size(), 2u);
  EXPECT_EQ(notes.front().status, BINDSTATUS_BEGINDOWNLOADDATA);
  std::uint32_t previous = 0;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    if (i > 0) {
      EXPECT_EQ(notes[i].status, BINDSTATUS_DOWNLOADINGDATA) << i;
    }
    EXPECT_EQ(notes[i].text, url);
    EXPECT_EQ(notes[i].total, total) << i;
    EXPECT_GE(notes[i].progress, previous) << i;
    previous = notes[i].progress;
  }
  EXPECT_EQ(notes.back().progress, size);
}

class DownloadTest : public ::testing::Test {
 protected:
  DownloadTest() {
    WriteFile(served_ + "/Client.exe", body_);
    WriteFile(served_ + "/empty.bin", "");
    WriteFile(scratch_ / "secret.txt", "outside");
  }

  HRESULT ToCache(const std::wstring& url, std::wstring* cachePath = nullptr) {
    std::array<wchar_t, 260> path{};
    path[0] = L'?';
    HRESULT result = platform::Downloads().DownloadToCacheFile(url.c_str(), path, &sink_, nullptr);
    if (cachePath != nullptr) {
      *cachePath = path.data();
    }
    return result;
  }

  // Fetches into the cache and checks the copy against what was served.
  void ExpectFetched(const std::wstring& url, const std::string& content) {
    std::wstring cachePath;
    ASSERT_EQ(ToCache(url, &cachePath), S_OK);
    ASSERT_EQ(cachePath.rfind(L"Temp\\", 0), 0u) << std::string(cachePath.begin(), cachePath.end());
    const std::string host = device_.Host(cachePath);
    EXPECT_TRUE(ReadFile(host) == content) << "the copy differs from the file served";
    EXPECT_EQ(download_testing::ModeOf(host), download_testing::ExpectedFileMode());
    EXPECT_EQ(device_.TempFiles().size(), 1u);
  }

  void ClearTemp() {
    for (const std::string& name : device_.TempFiles()) {
      std::remove((device_.Root() + "/Temp/" + name).c_str());
    }
  }

  void ExpectFailedWithoutCopy(const std::wstring& url) {
    std::wstring cachePath;
    EXPECT_NE(ToCache(url, &cachePath), S_OK);
    EXPECT_EQ(cachePath, L"");
    EXPECT_TRUE(device_.TempFiles().empty());
  }

  TempDir scratch_;
  const std::string served_ = scratch_ / "served";
  Device device_;
  RecordingCallback sink_;
  const std::string body_ = PseudoRandomBytes(700 * 1000, 1);
};

TEST_F(DownloadTest, FetchesTheFileWithProgressAndAnnouncedTotal) {
  Service service(served_, {});
  const std::wstring url = service.Url("Client.exe");
  ExpectFetched(url, body_);
  ExpectProgress(sink_.notes, url, body_.size(), static_cast<std::uint32_t>(body_.size()));

  // The same process fetches again (a reused connection) into a second, distinct copy.
  sink_.notes.clear();
  std::wstring second;
  ASSERT_EQ(ToCache(url, &second), S_OK);
  EXPECT_EQ(device_.TempFiles().size(), 2u);
  ExpectProgress(sink_.notes, url, body_.size(), static_cast<std::uint32_t>(body_.size()));
}

TEST_F(DownloadTest, WithoutContentLengthTheTotalIsZero) {
  Service service(served_, {"--no-length", "Client.exe"});
  const std::wstring url = service.Url("Client.exe");
  ExpectFetched(url, body_);
  ExpectProgress(sink_.notes, url, body_.size(), 0);
}

TEST_F(DownloadTest, AnEmptyFileBeginsAndEnds) {
  Service service(served_, {});
  const std::wstring url = service.Url("empty.bin");
  ExpectFetched(url, "");
  ExpectProgress(sink_.notes, url, 0, 0);
}

TEST_F(DownloadTest, FollowsRedirectsUpToTen) {
  Service other(served_, {});
  std::vector<std::string> switches = {"--redirect", "elsewhere:" + other.Base() + "Client.exe"};
  // hop1 -> hop2 -> ... -> hop10 -> Client.exe is ten redirects; hop0 adds an eleventh.
  for (int hop = 0; hop < 10; ++hop) {
    switches.push_back("--redirect");
    switches.push_back("hop" + std::to_string(hop) + ":hop" + std::to_string(hop + 1));
  }
  switches.insert(switches.end(), {"--redirect", "hop10:Client.exe"});
  Service service(served_, switches);

  ExpectFetched(service.Url("hop1"), body_);
  ExpectProgress(sink_.notes, service.Url("hop1"), body_.size(),
                 static_cast<std::uint32_t>(body_.size()));
  ClearTemp();
  ExpectFetched(service.Url("elsewhere"), body_);
  ClearTemp();

  ExpectFailedWithoutCopy(service.Url("hop0"));
}

// Listens on 127.0.0.1 and never accepts: a client that connects shows up as pending.
class Listener {
 public:
  Listener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen";
    }
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(fd_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  int Port() const { return port_; }
  bool Connected() const {
    pollfd ready = {fd_, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
  }

 private:
  int fd_;
  int port_ = 0;
};

TEST_F(DownloadTest, FailuresLeaveNoCacheCopy) {
  // Were an ftp address followed, the wait for its greeting would otherwise take a minute.
  ScopedEnv stall("FERROVAN_DOWNLOAD_STALL_SECONDS", "1");
  Listener ftp;
  const std::string ftpUrl = "ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/Client.exe";
  const std::string fileUrl = "file://" + served_ + "/Client.exe";
  Service service(
      served_, {"--missing", "Client.exe", "--drop-after", "cut.bin:1000", "--no-length",
                "cutChunked.bin", "--drop-after", "cutChunked.bin:300000", "--redirect",
                "toFtp:" + ftpUrl, "--redirect", "toFile:" + fileUrl, "--redirect", "loop:loop"});
  for (const char* name : {"cut.bin", "cutChunked.bin"}) {
    WriteFile(served_ + "/" + name, body_);
  }
  const struct {
    std::wstring url;
    const char* what;
  } cases[] = {
      {service.Url("Client.exe"), "404 for a file that exists"},
      {service.Url("nothing.dll"), "a name not in the folder"},
      {service.Url("cut.bin"), "connection closed after 1000 of the announced bytes"},
      {service.Url("cutChunked.bin"), "chunked body cut off"},
      {service.Url("toFtp"), "redirect to ftp"},
      {service.Url("toFile"), "redirect to a local file"},
      {service.Url("loop"), "endless redirects"},
      {service.Url("..%2Fsecret.txt"), "a name that leaves the folder"},
      {Wide(ftpUrl), "an ftp address"},
      {Wide(fileUrl), "a local file's address"},
      {L"", "no address"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sink_.notes.clear();
    ExpectFailedWithoutCopy(c.url);
    for (const Notification& note : sink_.notes) {
      EXPECT_LT(note.progress, body_.size()) << "a failed download reported its end";
    }
  }
  EXPECT_FALSE(ftp.Connected()) << "an ftp address was fetched";
}

TEST_F(DownloadTest, ARefusedConnectionFails) {
  const int port = testing_support::UnusedPort();
  ExpectFailedWithoutCopy(Wide("http://127.0.0.1:" + std::to_string(port) +
                               "/FerroVanService/WebService/Downloads/Client.exe"));
  EXPECT_TRUE(sink_.notes.empty());
}

TEST_F(DownloadTest, AServerThatStaysSilentFailsAfterTheStallTime) {
  ScopedEnv stall("FERROVAN_DOWNLOAD_STALL_SECONDS", "1");
  Service service(served_, {"--silent", "Client.exe"});
  const auto start = std::chrono::steady_clock::now();
  ExpectFailedWithoutCopy(service.Url("Client.exe"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST_F(DownloadTest, ALengthLargerThanTheDeviceCanStoreFailsBeforeAByteIsWritten) {
  // 100 TB announced; the body that follows is the file itself.
  Service service(served_, {"--claim-length", "Client.exe:109951162777600"});
  ExpectFailedWithoutCopy(service.Url("Client.exe"));
  EXPECT_TRUE(sink_.DataNotes().empty()) << "the body was taken";
}

TEST_F(DownloadTest, ProgressIsThinnedToAboutTenASecond) {
  const std::string big = PseudoRandomBytes(1500 * 1000, 2);
  WriteFile(served_ + "/big.bin", big);
  Service service(served_, {"--slow", "big.bin:1000000"});
  const std::wstring url = service.Url("big.bin");
  const auto start = std::chrono::steady_clock::now();
  ExpectFetched(url, big);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ExpectProgress(sink_.notes, url, big.size(), static_cast<std::uint32_t>(big.size()));

  EXPECT_GE(sink_.notes.size(), 6u) << "progress while the data arrive";
  EXPECT_LE(static_cast<double>(sink_.notes.size()), seconds * 10 + 3);
  // Apart from the final notification, which is always sent, none follows the one before it
  // in less than the interval.
  for (std::size_t i = 1; i + 1 < sink_.notes.size(); ++i) {
    EXPECT_GE(sink_.notes[i].at - sink_.notes[i - 1].at, std::chrono::milliseconds(95)) << i;
  }
}

TEST_F(DownloadTest, DownloadToFileWritesAndReplacesTheTarget) {
  Service service(served_, {"--missing", "gone.cab"});
  const std::wstring target = L"Program Files\\FerroVanMobile\\Package.cab";
  WriteFile(device_.Host(target), std::string(2 * body_.size(), 'x'));

  EXPECT_EQ(platform::Downloads().DownloadToFile(service.Url("Client.exe").c_str(), target.c_str(),
                                                 &sink_, nullptr),
            S_OK);
  EXPECT_TRUE(ReadFile(device_.Host(target)) == body_) << "the target differs from the file";
  ExpectProgress(sink_.notes, service.Url("Client.exe"), body_.size(),
                 static_cast<std::uint32_t>(body_.size()));

  const std::wstring fresh = L"Program Files\\FerroVanMobile\\Fresh.cab";
  EXPECT_EQ(platform::Downloads().DownloadToFile(service.Url("empty.bin").c_str(), fresh.c_str(),
                                                 nullptr, nullptr),
            S_OK);
  EXPECT_EQ(download_testing::ModeOf(device_.Host(fresh)), download_testing::ExpectedFileMode());

  EXPECT_NE(platform::Downloads().DownloadToFile(service.Url("gone.cab").c_str(), target.c_str(),
                                                 &sink_, nullptr),
            S_OK);
  EXPECT_NE(platform::Downloads().DownloadToFile(service.Url("Client.exe").c_str(),
                                                 L"No Such Folder\\Package.cab", &sink_, nullptr),
            S_OK);
  EXPECT_TRUE(device_.TempFiles().empty());
}

// A link at the target, to a file outside the device or to nowhere, is replaced by the file;
// its target is never written, and a failed fetch leaves the old target as it was.
TEST_F(DownloadTest, DownloadToFileReplacesALinkAtTheTargetAndLeavesNoTemporary) {
  Service service(served_, {"--missing", "gone.cab"});
  const std::string folder = device_.Root() + "/Program Files/FerroVanMobile";
  const std::string target = folder + "/Package.cab";
  const std::wstring devicePath = L"Program Files\\FerroVanMobile\\Package.cab";
  for (const std::string& linked : {scratch_ / "secret.txt", scratch_ / "missing"}) {
    SCOPED_TRACE(linked);
    testing_support::MakeFolders(folder);
    std::filesystem::remove(target);
    std::filesystem::create_symlink(linked, target);

    EXPECT_EQ(platform::Downloads().DownloadToFile(service.Url("Client.exe").c_str(),
                                                   devicePath.c_str(), nullptr, nullptr),
              S_OK);
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    EXPECT_TRUE(ReadFile(target) == body_) << "the target differs from the file";
    EXPECT_EQ(download_testing::ModeOf(target), download_testing::ExpectedFileMode());
    EXPECT_EQ(ReadFile(scratch_ / "secret.txt"), "outside");
    EXPECT_FALSE(testing_support::Exists(scratch_ / "missing"));

    EXPECT_NE(platform::Downloads().DownloadToFile(service.Url("gone.cab").c_str(),
                                                   devicePath.c_str(), nullptr, nullptr),
              S_OK);
    EXPECT_TRUE(ReadFile(target) == body_) << "a failed fetch changed the target";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1)
        << "a temporary file was left beside the target";
  }
}

// A neighbour on the device that opens every file it finds in Temp and in the target's folder
// and writes its own bytes into it, while the body arrives and again once the sink has judged
// it: the file that takes the target's name still holds exactly the bytes the sink saw.
class Neighbour : public platform::DownloadContentSink {
 public:
  Neighbour(std::vector<std::string> folders, std::string spared)
      : folders_(std::move(folders)), spared_(std::move(spared)) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    seen.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Meddle();
    return true;
  }
  bool Complete() override {
    Meddle();
    return true;
  }
  std::string seen;
  int written = 0;

 private:
  void Meddle() {
    for (const std::string& folder : folders_) {
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename() == spared_) {
          continue;
        }
        const int fd = open(entry.path().c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
          written += pwrite(fd, "EVIL", 4, 0) == 4 ? 1 : 0;
          close(fd);
        }
      }
    }
  }
  std::vector<std::string> folders_;
  std::string spared_;
};

TEST_F(DownloadTest, NoOtherProgramCanChangeAFileBetweenItsCheckAndItsMove) {
  Service service(served_, {"--slow", "Client.exe:2000000"});
  const std::string folder = device_.Root() + "/Program Files/FerroVanMobile";
  testing_support::MakeFolders(folder);
  Neighbour neighbour({device_.Root() + "/Temp", folder}, "Package.cab");
  EXPECT_EQ(platform::Downloads().DownloadToFile(service.Url("Client.exe").c_str(),
                                                 L"Program Files\\FerroVanMobile\\Package.cab",
                                                 nullptr, &neighbour),
            S_OK);
  EXPECT_TRUE(neighbour.seen == body_);
  EXPECT_TRUE(ReadFile(folder + "/Package.cab") == body_)
      << "the file in place is not the one seen";
  EXPECT_EQ(neighbour.written, 0) << "the neighbour wrote into a copy";
}

// A sink that keeps what it is shown, as a digest takes it, and starts again when told to (or
// cannot).
class KeepingSink : public platform::DownloadContentSink {
 public:
  explicit KeepingSink(bool restartable) : restartable_(restartable) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    seen.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
  }
  // Refuses as many judgements as refusals says, as a release check refuses a file that is not
  // the release's.
  bool Complete() override { return refusals-- <= 0; }
  int refusals = 0;
  bool Restart() override {
    ++restarts;
    seen.clear();
    return restartable_;
  }
  std::string seen;
  int restarts = 0;

 private:
  bool restartable_;
};

// A connection that breaks mid-file (a hand-held roaming between access points) is resumed with a
// range on the same version of the file; a server that sends the whole file again starts the
// body again; a server that never lets the copy grow, or breaks it more often than the bound,
// fails the download with nothing left.
TEST_F(DownloadTest, ABrokenTransferIsResumedWhereItStopped) {
  const std::vector<std::string> breaksOnce = {"--break-every",   "Client.exe:300000",
                                               "--break-count",   "Client.exe:1",
                                               "--ignore-ranges", "Client.exe"};
  const struct {
    const char* what;
    std::vector<std::string> switches;
    bool sinkRestarts;
    bool fetched;
    int restarts;
    bool changes = false;
  } cases[] = {
      {"broken every 200 kB and resumed", {"--break-every", "Client.exe:200000"}, true, true, 0},
      {"broken once, then sent whole", breaksOnce, true, true, 1},
      {"sent whole to a sink that cannot start again", breaksOnce, false, false, 1},
      {"sent whole and broken at the same byte each time",
       {"--break-every", "Client.exe:300000", "--ignore-ranges", "Client.exe"},
       true,
       false,
       1},
      {"broken more often than a download resumes",
       {"--break-every", "Client.exe:50000"},
       true,
       false,
       0},
      // The file changes on the server while its first 200 kB arrive.
      {"changed before the range is asked for: sent whole",
       {"--break-every", "Client.exe:200000", "--break-count", "Client.exe:1"},
       true,
       true,
       1,
       true},
      {"changed, and a server that ignores If-Range: refused, not spliced",
       {"--break-every", "Client.exe:200000", "--break-count", "Client.exe:1", "--ignore-if-range",
        "Client.exe"},
       true,
       false,
       0,
       true},
  };
  const std::wstring target = L"Program Files\\FerroVanMobile\\Package.cab";
  testing_support::MakeFolders(device_.Root() + "/Program Files/FerroVanMobile");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Service service(served_, c.switches);
    const std::wstring url = service.Url("Client.exe");
    WriteFile(served_ + "/Client.exe", body_);
    KeepingSink sink(c.sinkRestarts);
    RecordingCallback progress;
    // A new version put in place as a publisher does (a new file renamed over the old): the
    // response under way goes on with the old one, the next request finds the new one.
    const std::string changed = PseudoRandomBytes(body_.size(), 29);
    if (c.changes) {
      progress.onFirstData = [&] {
        WriteFile(served_ + "/Client.exe.new", changed);
        std::filesystem::rename(served_ + "/Client.exe.new", served_ + "/Client.exe");
      };
    }
    const std::string& served = c.changes ? changed : body_;
    std::filesystem::remove(device_.Host(target));
    device_.ClearTemp();  // no kept copy of an earlier case answers for this one
    EXPECT_EQ(
        platform::Downloads().DownloadToFile(url.c_str(), target.c_str(), &progress, &sink) == S_OK,
        c.fetched);
    EXPECT_EQ(sink.restarts, c.restarts);
    if (c.fetched) {
      EXPECT_TRUE(ReadFile(device_.Host(target)) == served)
          << "the file differs from the one served";
      EXPECT_TRUE(sink.seen == served) << "the sink saw other bytes than the file's";
      if (c.restarts == 0) {
        // A resumed transfer counts on from where it stopped, against the whole file's length.
        ExpectProgress(progress.notes, url, body_.size(), static_cast<std::uint32_t>(body_.size()));
      }
    } else {
      EXPECT_FALSE(testing_support::Exists(device_.Host(target)));
    }
    EXPECT_TRUE(device_.TempFiles().empty());
  }
}

// What a download keeps of the file it put in place lets the next download of that address ask
// whether it changed: a 304 puts the kept copy in place without a transfer, once it still hashes
// as it did; a damaged one (the installed file, which the kept link shares), or a file changed
// on the server, is fetched whole.
TEST_F(DownloadTest, AFileFetchedBeforeIsRevalidatedAndTakenFromItsKeptCopy) {
  const std::string answers = scratch_ / "answers";
  Service service(served_, {"--answers", answers});
  const std::wstring url = service.Url("Client.exe");
  const std::wstring target = L"Program Files\\FerroVanMobile\\Client.exe";
  testing_support::MakeFolders(device_.Root() + "/Program Files/FerroVanMobile");
  const std::string installed = device_.Host(target);
  const auto kept = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(device_.Root() + "/Temp")) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("ferrovan-kept.Client.exe.") && name.ends_with(".copy")) {
        return entry.path().string();
      }
    }
    return std::string("no kept copy");
  };
  const std::string changed = PseudoRandomBytes(500 * 1000, 9);
  const auto nothing = [] {};
  const struct {
    const char* what;
    std::function<void()> before;
    int status;
    const std::string* content;
    int refusals = 0;
  } cases[] = {
      {"the first download", nothing, 200, &body_},
      {"again, the file removed as a forced upgrade clears it",
       [&] { std::filesystem::remove(installed); }, 304, &body_},
      {"again, the file in place", nothing, 304, &body_},
      {"the installed file damaged where it lies",
       [&] {
         const int fd = open(installed.c_str(), O_WRONLY | O_CLOEXEC);
         ASSERT_EQ(pwrite(fd, "X", 1, 1000), 1);
         close(fd);
       },
       200, &body_},
      {"the file changed on the server", [&] { WriteFile(served_ + "/Client.exe", changed); }, 200,
       &changed},
      {"and then not", nothing, 304, &changed},
      // As a release check refuses a kept copy that a server rolled back to: it goes, and the
      // file is fetched whole at once.
      {"a kept copy that the sink refuses", nothing, 200, &changed, 1},
      {"and then the kept copy of that", nothing, 304, &changed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    KeepingSink sink(true);
    sink.refusals = c.refusals;
    RecordingCallback progress;
    ASSERT_EQ(platform::Downloads().DownloadToFile(url.c_str(), target.c_str(), &progress, &sink),
              S_OK);
    const std::string log = ReadFile(answers);
    const std::size_t last = log.rfind('\n', log.size() - 2);
    EXPECT_EQ(log.substr(last == std::string::npos ? 0 : last + 1),
              std::to_string(c.status) + " /FerroVanService/WebService/Downloads/Client.exe\n");
    EXPECT_TRUE(ReadFile(installed) == *c.content) << "the file in place differs";
    EXPECT_TRUE(sink.seen == *c.content) << "the sink saw other bytes";
    // Taken from the kept copy, it shows as done, with its size.
    const std::vector<Notification> notes = progress.DataNotes();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().progress, c.content->size());
    EXPECT_EQ(notes.back().total, c.content->size());
    EXPECT_TRUE(std::filesystem::equivalent(kept(), installed)) << "the kept copy is no hard link";
    EXPECT_TRUE(device_.TempFiles().empty());
  }
}

// The sweep that follows a killed loader removes the copies no download holds, and only those:
// not a copy being written this moment, nor anything that is not a cache copy.
TEST_F(DownloadTest, RemovingAbandonedCacheCopiesSparesLiveOnesAndOtherFiles) {
  const std::string temp = device_.Root() + "/Temp/";
  WriteFile(temp + "ferrovan-cache.abandoned1-Client.exe", "partial");
  WriteFile(temp + "ferrovan-cache.abandoned2-x.dll", "");
  WriteFile(temp + "ferrovan-cache.held-y.dll", "partial");
  WriteFile(temp + "other.tmp", "not a cache copy");
  testing_support::MakeFolders(temp + "ferrovan-cache.folder");
  std::filesystem::create_symlink(scratch_ / "secret.txt", temp + "ferrovan-cache.link");
  // Held as a download in another process holds its copy.
  const int held = open((temp + "ferrovan-cache.held-y.dll").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);

  // A download running meanwhile, slowly enough to be swept in the middle.
  const std::string big = PseudoRandomBytes(400 * 1000, 3);
  WriteFile(served_ + "/big.bin", big);
  Service service(served_, {"--slow", "big.bin:200000"});
  std::wstring cachePath;
  HRESULT result = E_FAIL;
  std::thread download([&] { result = ToCache(service.Url("big.bin"), &cachePath); });
  const auto isLive = [](const std::string& name) { return name.ends_with("-big.bin"); };
  const bool started = testing_support::WaitUntil([&] {
    const auto names = device_.TempFiles();
    return std::any_of(names.begin(), names.end(), isLive);
  });
  platform::RemoveAbandonedCacheFiles();
  download.join();
  close(held);
  ASSERT_TRUE(started);

  EXPECT_EQ(result, S_OK);
  EXPECT_TRUE(ReadFile(device_.Host(cachePath)) == big) << "the live copy was lost";
  std::vector<std::string> left = device_.TempFiles();
  left.erase(std::remove_if(left.begin(), left.end(), isLive), left.end());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"ferrovan-cache.folder", "ferrovan-cache.held-y.dll",
                                            "ferrovan-cache.link", "other.tmp"}));
  EXPECT_EQ(ReadFile(scratch_ / "secret.txt"), "outside");
}

class HttpsDownloadTest : public DownloadTest {
 protected:
  static void SetUpTestSuite() {
    keys_ = new TempDir;
    const std::string ext = *keys_ / "server.ext";
    WriteFile(ext,
              "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
              "extendedKeyUsage=serverAuth\n");
    const std::vector<std::vector<std::string>> steps = {
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", *keys_ / "ca.key", "-out", *keys_ / "ca.pem", "-days", "2", "-subj",
         "/CN=FerroVan Test CA"},
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", *keys_ / "other.key", "-out", *keys_ / "other.pem", "-days", "2", "-subj",
         "/CN=Some Other CA"},
        {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         *keys_ / "server.key", "-out", *keys_ / "server.csr", "-subj", "/CN=127.0.0.1"},
        {"x509", "-req", "-in", *keys_ / "server.csr", "-CA", *keys_ / "ca.pem", "-CAkey",
         *keys_ / "ca.key", "-CAcreateserial", "-out", *keys_ / "server.pem", "-days", "2",
         "-extfile", ext},
    };
    for (const auto& step : steps) {
      auto result = testing_support::Run("/usr/bin/openssl", step);
      ASSERT_EQ(result.exitStatus, 0) << result.err;
    }
  }
  static void TearDownTestSuite() {
    delete keys_;
    keys_ = nullptr;
  }

  static TempDir* keys_;
};

TempDir* HttpsDownloadTest::keys_ = nullptr;

TEST_F(HttpsDownloadTest, VerifiesTheServerAgainstTheNamedCaFile) {
  Service service(served_, {"--https", *keys_ / "server.pem", *keys_ / "server.key"});
  ASSERT_EQ(service.Base().rfind("https://", 0), 0u);
  const std::wstring url = service.Url("Client.exe");
  {
    ScopedEnv ca("SSL_CERT_FILE", *keys_ / "ca.pem");
    ExpectFetched(url, body_);
    ClearTemp();

    SCOPED_TRACE("the certificate names 127.0.0.1, not localhost");
    std::wstring byName = url;
    byName.replace(byName.find(L"127.0.0.1"), 9, L"localhost");
    ExpectFailedWithoutCopy(byName);
  }
  {
    SCOPED_TRACE("another CA");
    ScopedEnv ca("SSL_CERT_FILE", *keys_ / "other.pem");
    ExpectFailedWithoutCopy(url);
  }
  {
    SCOPED_TRACE("the system's trust store");
    ScopedEnv ca("SSL_CERT_FILE", std::nullopt);
    ExpectFailedWithoutCopy(url);
  }
}

TEST_F(HttpsDownloadTest, FromHttpsOnlyHttpsRedirectsAreFollowed) {
  TempDir logs;
  Service plain(served_, {"--log", logs / "plain.log"});
  Service secureOther(served_, {"--https", *keys_ / "server.pem", *keys_ / "server.key"});
  Service service(served_, {"--https", *keys_ / "server.pem", *keys_ / "server.key", "--redirect",
                            "toPlain:" + plain.Base() + "Client.exe", "--redirect",
                            "toSecure:" + secureOther.Base() + "Client.exe"});
  ScopedEnv ca("SSL_CERT_FILE", *keys_ / "ca.pem");
  ExpectFetched(service.Url("toSecure"), body_);
  ClearTemp();
  ExpectFailedWithoutCopy(service.Url("toPlain"));
  EXPECT_TRUE(!std::filesystem::exists(logs / "plain.log") || ReadFile(logs / "plain.log").empty())
      << "the plain server was asked";
}

TEST(DownloadServiceProgram, StopsCleanlyOnTermination) {
  TempDir served;
  for (int signalNumber : {SIGTERM, SIGINT}) {
    Service service(served.Path(), {});
    ASSERT_EQ(kill(service.Process().Pid(), signalNumber), 0);
    EXPECT_EQ(service.Process().Wait(), 0);
  }
}

}  // namespace
