// What the libcurl downloads of the Linux host do beyond what every host does
// (download_test.cpp): a body of unknown length, redirects, the addresses and servers only
// libcurl meets, progress thinned to a rate, file modes, links, the sweep of abandoned copies
// and HTTPS against a CA file. Each test starts the download service it needs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/common/kept_copies.h"
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

class LinuxDownloadTest : public ::testing::Test {
 protected:
  LinuxDownloadTest() {
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

// A copy and a target are made as any new file of the process is, with the umask applied.
TEST_F(LinuxDownloadTest, NewFilesGetTheModeOfANewFile) {
  Service service(served_, {});
  ExpectFetched(service.Url("Client.exe"), body_);
  const std::wstring fresh = L"Program Files\\FerroVanMobile\\Fresh.cab";
  testing_support::MakeFolders(device_.Root() + "/Program Files/FerroVanMobile");
  EXPECT_EQ(platform::Downloads().DownloadToFile(service.Url("empty.bin").c_str(), fresh.c_str(),
                                                 nullptr, nullptr),
            S_OK);
  EXPECT_EQ(download_testing::ModeOf(device_.Host(fresh)), download_testing::ExpectedFileMode());
}

TEST_F(LinuxDownloadTest, WithoutContentLengthTheTotalIsZero) {
  Service service(served_, {"--no-length", "Client.exe"});
  const std::wstring url = service.Url("Client.exe");
  ExpectFetched(url, body_);
  ExpectProgress(sink_.notes, url, body_.size(), 0);
}

TEST_F(LinuxDownloadTest, FollowsRedirectsUpToTen) {
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
  // Accepts one connection, reads its request and answers it with response.
  void AnswerOnce(const std::string& response) const {
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      return;
    }
    std::string request;
    char chunk[1024];
    ssize_t got = 0;
    while (request.find("\r\n\r\n") == std::string::npos &&
           (got = read(client, chunk, sizeof chunk)) > 0) {
      request.append(chunk, static_cast<std::size_t>(got));
    }
    if (write(client, response.data(), response.size()) < 0) {
      ADD_FAILURE() << "cannot answer";
    }
    close(client);
  }
  bool Connected() const {
    pollfd ready = {fd_, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
  }

 private:
  int fd_;
  int port_ = 0;
};

TEST_F(LinuxDownloadTest, FailuresLeaveNoCacheCopy) {
  // Were an ftp address followed, the wait for its greeting would otherwise take a minute.
  ScopedEnv stall("FERROVAN_DOWNLOAD_STALL_SECONDS", "1");
  Listener ftp;
  const std::string ftpUrl = "ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/Client.exe";
  const std::string fileUrl = "file://" + served_ + "/Client.exe";
  Service service(served_, {"--no-length", "cutChunked.bin", "--drop-after",
                            "cutChunked.bin:300000", "--redirect", "toFtp:" + ftpUrl, "--redirect",
                            "toFile:" + fileUrl, "--redirect", "loop:loop"});
  WriteFile(served_ + "/cutChunked.bin", body_);
  const struct {
    std::wstring url;
    const char* what;
  } cases[] = {
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

// A part kept for an address that the next try finds no server at stays for the try after; a
// resumed request answered 204 is no file, however the part looked.
TEST_F(LinuxDownloadTest, APartOutlivesATryWithoutAServerAndA204IsNoFile) {
  Listener server;
  const std::string path = "/FerroVanService/WebService/Downloads/Client.exe";
  const std::string at204 = "http://127.0.0.1:" + std::to_string(server.Port()) + path;
  const std::string nowhere =
      "http://127.0.0.1:" + std::to_string(testing_support::UnusedPort()) + path;
  const struct {
    const char* what;
    std::string url;
    bool answers;
    bool partStays;
  } cases[] = {
      {"no server answers", nowhere, false, true},
      {"a 204 to the range", at204, true, false},
  };
  const std::wstring target = L"Program Files\\FerroVanMobile\\Client.exe";
  testing_support::MakeFolders(device_.Root() + "/Program Files/FerroVanMobile");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring url = Wide(c.url);
    // What a broken try kept: the file's first 300 kB, of the version "v1".
    const std::string part =
        device_.Root() + "/Temp/" + platform::KeptCopyName(url.c_str(), platform::Kept::kPart);
    const std::string bytes = body_.substr(0, 300000);
    WriteFile(part, bytes);
    platform::KeptRecord record;
    record.url = c.url;
    record.etag = "\"v1\"";
    record.size = bytes.size();
    platform::KeptDigest digest;
    digest.Add({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    record.digest = digest.Hex();
    WriteFile(part + platform::kKeptRecordSuffix, platform::FormatKeptRecord(record));

    std::thread answer;
    if (c.answers) {
      answer = std::thread([&] {
        server.AnswerOnce("HTTP/1.1 204 No Content\r\nETag: \"v1\"\r\nConnection: close\r\n\r\n");
      });
    }
    EXPECT_NE(platform::Downloads().DownloadToFile(url.c_str(), target.c_str(), nullptr, nullptr),
              S_OK);
    if (answer.joinable()) {
      answer.join();
    }
    EXPECT_FALSE(testing_support::Exists(device_.Host(target)));
    EXPECT_EQ(testing_support::Exists(part), c.partStays);
    EXPECT_TRUE(!c.partStays || ReadFile(part) == bytes);
    EXPECT_TRUE(device_.TempFiles().empty());
  }
}

TEST_F(LinuxDownloadTest, ARefusedConnectionFails) {
  const int port = testing_support::UnusedPort();
  ExpectFailedWithoutCopy(Wide("http://127.0.0.1:" + std::to_string(port) +
                               "/FerroVanService/WebService/Downloads/Client.exe"));
  EXPECT_TRUE(sink_.notes.empty());
}

TEST_F(LinuxDownloadTest, AServerThatStaysSilentFailsAfterTheStallTime) {
  ScopedEnv stall("FERROVAN_DOWNLOAD_STALL_SECONDS", "1");
  Service service(served_, {"--silent", "Client.exe"});
  const auto start = std::chrono::steady_clock::now();
  ExpectFailedWithoutCopy(service.Url("Client.exe"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST_F(LinuxDownloadTest, ProgressIsThinnedToAboutTenASecond) {
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

// A link at the target, to a file outside the device or to nowhere, is replaced by the file;
// its target is never written, and a failed fetch leaves the old target as it was.
TEST_F(LinuxDownloadTest, DownloadToFileReplacesALinkAtTheTargetAndLeavesNoTemporary) {
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

// The sweep that follows a killed loader removes the copies no download holds, and only those:
// not a copy being written this moment, nor anything that is not a cache copy.
TEST_F(LinuxDownloadTest, RemovingAbandonedCacheCopiesSparesLiveOnesAndOtherFiles) {
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

class LinuxHttpsDownloadTest : public LinuxDownloadTest {
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

TempDir* LinuxHttpsDownloadTest::keys_ = nullptr;

TEST_F(LinuxHttpsDownloadTest, VerifiesTheServerAgainstTheNamedCaFile) {
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

TEST_F(LinuxHttpsDownloadTest, FromHttpsOnlyHttpsRedirectsAreFollowed) {
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

}  // namespace
