// The nginx site of deploy/nginx serves the download folder as the loader expects: a real nginx
// runs the snippet with its folder and port pointed at the test's own.
#include <unistd.h>

#include <array>
#include <string>

#include <gtest/gtest.h>

#include "platform/download.h"
#include "tests/download_service/download_helpers.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr const char* kNginx = "/usr/sbin/nginx";

// Replaces the one occurrence of from; fails the test when there is not exactly one.
void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << "the snippet no longer has: " << from;
  ASSERT_EQ(text.find(from, at + 1), std::string::npos) << "more than one: " << from;
  text.replace(at, from.size(), to);
}

TEST(NginxSite, ServesTheDownloadFolder) {
  if (access(kNginx, X_OK) != 0) {
    GTEST_SKIP() << kNginx << " is not installed";
  }
  testing_support::TempDir scratch;
  const std::string folder = scratch / "downloads";
  const std::string body = download_testing::PseudoRandomBytes(500 * 1000, 7);
  WriteFile(folder + "/Solvane.FerroVan.Mobile.Client.exe", body);
  WriteFile(scratch / "secret.txt", "outside");

  const int port = download_testing::UnusedPort();
  std::string site = ReadFile(FERROVAN_SOURCE_DIR "/deploy/nginx/ferrovan-downloads.conf");
  ReplaceOnce(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(port) + ";");
  ReplaceOnce(site, "alias /srv/ferrovan/downloads/;", "alias " + folder + "/;");
  WriteFile(scratch / "site.conf", site);
  const std::string& p = scratch.Path();
  WriteFile(scratch / "nginx.conf",
            "daemon off;\nmaster_process off;\nworker_processes 1;\n"
            "pid " +
                p + "/nginx.pid;\nerror_log " + p +
                "/error.log;\n"
                "events { worker_connections 32; }\n"
                "http {\n  access_log " +
                p +
                "/access.log;\n"
                "  client_body_temp_path " +
                p + "/body;\n  proxy_temp_path " + p +
                "/proxy;\n"
                "  fastcgi_temp_path " +
                p + "/fastcgi;\n  uwsgi_temp_path " + p +
                "/uwsgi;\n"
                "  scgi_temp_path " +
                p + "/scgi;\n  include " + p + "/site.conf;\n}\n");
  testing_support::BackgroundProcess nginx(
      kNginx, {"-p", p + "/", "-c", scratch / "nginx.conf", "-e", scratch / "error.log"});
  ASSERT_TRUE(testing_support::WaitUntil([&] { return download_testing::Accepts(port); }))
      << ReadFile(scratch / "error.log");

  download_testing::Device device;
  const std::string base =
      "http://127.0.0.1:" + std::to_string(port) + "/FerroVanService/WebService/Downloads/";
  const std::wstring url = download_testing::Wide(base + "Solvane.FerroVan.Mobile.Client.exe");
  download_testing::RecordingCallback sink;
  std::array<wchar_t, 260> cachePath{};
  ASSERT_EQ(platform::Downloads().DownloadToCacheFile(url.c_str(), cachePath, &sink),
            platform::S_OK);
  EXPECT_TRUE(ReadFile(device.Host(cachePath.data())) == body) << "the copy differs";
  ASSERT_FALSE(sink.notes.empty());
  EXPECT_EQ(sink.notes.back().progress, body.size());
  EXPECT_EQ(sink.notes.back().total, body.size());

  for (const char* name : {"", "Absent.dll", "..%2Fsecret.txt", "../../secret.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(platform::Downloads().DownloadToFile(download_testing::Wide(base + name).c_str(),
                                                   L"fetched", nullptr),
              platform::S_OK);
  }
}

}  // namespace
