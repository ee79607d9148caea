// The nginx site of deploy/nginx serves the download folder as the loader expects: a real nginx
// runs the snippet with its folder and port pointed at the test's own. A first installation
// through it is one of the shared roads (tests/e2e/roads_test.cpp).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/download.h"
#include "tests/download_service/download_helpers.h"
#include "tests/e2e/loopback_device.h"
#include "tests/e2e/nginx_site.h"
#include "tests/support/child_process.h"
#include "tests/support/required_tools.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

using testing_support::MissingNginx;
using testing_support::NginxSite;

TEST(NginxSite, ServesTheDownloadFolder) {
  FERROVAN_SKIP_WHEN_MISSING(MissingNginx());
  testing_support::TempDir scratch;
  const std::string folder = scratch / "downloads";
  const std::string body = download_testing::PseudoRandomBytes(500 * 1000, 7);
  WriteFile(folder + "/Solvane.FerroVan.Mobile.Client.exe", body);
  WriteFile(scratch / "secret.txt", "outside");
  NginxSite nginx(folder);
  ASSERT_TRUE(nginx.Ready()) << nginx.Log();
  const int port = nginx.Port();

  download_testing::Device device;
  const std::string base =
      "http://127.0.0.1:" + std::to_string(port) + "/FerroVanService/WebService/Downloads/";
  const std::wstring url = download_testing::Wide(base + "Solvane.FerroVan.Mobile.Client.exe");
  download_testing::RecordingCallback sink;
  std::array<wchar_t, 260> cachePath{};
  ASSERT_EQ(platform::Downloads().DownloadToCacheFile(url.c_str(), cachePath, &sink, nullptr),
            S_OK);
  EXPECT_TRUE(ReadFile(device.Host(cachePath.data())) == body) << "the copy differs";
  ASSERT_FALSE(sink.notes.empty());
  EXPECT_EQ(sink.notes.back().progress, body.size());
  EXPECT_EQ(sink.notes.back().total, body.size());

  for (const char* name : {"", "Absent.dll", "..%2Fsecret.txt", "../../secret.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(platform::Downloads().DownloadToFile(download_testing::Wide(base + name).c_str(),
                                                   L"fetched", nullptr, nullptr),
              S_OK);
  }
}

// The status line and headers of the answer to one GET for path with extra request headers, on a
// connection of its own.
std::string AskFor(int port, const std::string& path, const std::string& headers) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "Connection: close\r\n\r\n";
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char chunk[4096];
      ssize_t got = 0;
      while (answer.find("\r\n\r\n") == std::string::npos &&
             (got = read(fd, chunk, sizeof chunk)) > 0) {
        answer.append(chunk, static_cast<std::size_t>(got));
      }
    }
  }
  close(fd);
  return answer.substr(0, answer.find("\r\n\r\n") + 2);
}

std::string HeaderOf(const std::string& answer, const std::string& name) {
  const std::size_t at = answer.find("\r\n" + name + ": ");
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t start = at + 4 + name.size();
  return answer.substr(start, answer.find("\r\n", start) - start);
}

// What a download that resumes or revalidates needs of the site, which nginx gives a static file
// by default: a strong ETag and a date, ranges that honour If-Range, and 304 to a conditional
// request on the version in place.
TEST(NginxSite, AnswersRangesAndConditionalRequestsOnTheFilesVersion) {
  FERROVAN_SKIP_WHEN_MISSING(MissingNginx());
  testing_support::TempDir scratch;
  const std::string folder = scratch / "downloads";
  WriteFile(folder + "/Client.exe", std::string(500 * 1000, 'x'));
  NginxSite nginx(folder);
  ASSERT_TRUE(nginx.Ready()) << nginx.Log();
  const std::string path = "/FerroVanService/WebService/Downloads/Client.exe";
  const std::string first = AskFor(nginx.Port(), path, "");
  ASSERT_EQ(first.substr(0, 12), "HTTP/1.1 200") << first;
  const std::string etag = HeaderOf(first, "ETag");
  const std::string modified = HeaderOf(first, "Last-Modified");
  ASSERT_FALSE(etag.empty() || etag.starts_with("W/")) << first;
  ASSERT_FALSE(modified.empty()) << first;
  EXPECT_EQ(HeaderOf(first, "Accept-Ranges"), "bytes");

  const struct {
    const char* what;
    std::string headers;
    const char* status;
    const char* contentRange;
  } cases[] = {
      {"the rest of the same version", "Range: bytes=1000-\r\nIf-Range: " + etag + "\r\n", "206",
       "bytes 1000-499999/500000"},
      {"the rest, asked on the date", "Range: bytes=1000-\r\nIf-Range: " + modified + "\r\n", "206",
       "bytes 1000-499999/500000"},
      {"the rest of another version", "Range: bytes=1000-\r\nIf-Range: \"other\"\r\n", "200", ""},
      {"the version in place, by ETag", "If-None-Match: " + etag + "\r\n", "304", ""},
      {"the version in place, by date", "If-Modified-Since: " + modified + "\r\n", "304", ""},
      {"another version", "If-None-Match: \"other\"\r\n", "200", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string answer = AskFor(nginx.Port(), path, c.headers);
    EXPECT_EQ(answer.substr(9, 3), c.status) << answer;
    EXPECT_EQ(HeaderOf(answer, "Content-Range"), c.contentRange);
  }
}

}  // namespace
