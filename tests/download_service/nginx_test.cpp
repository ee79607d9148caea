// The nginx site of deploy/nginx serves the download folder as the loader expects: a real nginx
// runs the snippet with its folder and port pointed at the test's own.
#include <unistd.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/download.h"
#include "tests/download_service/download_helpers.h"
#include "tests/e2e/loopback_device.h"
#include "tests/support/child_process.h"
#include "tests/support/required_tools.h"
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

// A real nginx running the repository's site file, with its port and folder pointed at the
// test's own.
class NginxSite {
 public:
  explicit NginxSite(const std::string& folder) {
    port_ = download_testing::UnusedPort();
    std::string site = ReadFile(FERROVAN_SOURCE_DIR "/deploy/nginx/ferrovan-downloads.conf");
    ReplaceOnce(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(port_) + ";");
    ReplaceOnce(site, "alias /srv/ferrovan/downloads/;", "alias " + folder + "/;");
    WriteFile(scratch_ / "site.conf", site);
    const std::string& p = scratch_.Path();
    std::string conf = "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    conf += "pid " + p + "/nginx.pid;\nerror_log " + p + "/error.log;\n";
    conf += "events { worker_connections 32; }\nhttp {\n  access_log " + p + "/access.log;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
      conf += std::string("  ") + temp + "_temp_path " + p + "/" + temp + ";\n";
    }
    conf += "  include " + p + "/site.conf;\n}\n";
    WriteFile(scratch_ / "nginx.conf", conf);
    nginx_ = std::make_unique<testing_support::BackgroundProcess>(
        kNginx, std::vector<std::string>{"-p", p + "/", "-c", scratch_ / "nginx.conf", "-e",
                                         scratch_ / "error.log"});
  }
  bool Ready() const {
    return testing_support::WaitUntil([&] { return download_testing::Accepts(port_); });
  }
  std::string Log() const { return ReadFile(scratch_ / "error.log"); }
  int Port() const { return port_; }

 private:
  testing_support::TempDir scratch_;
  int port_ = 0;
  std::unique_ptr<testing_support::BackgroundProcess> nginx_;
};

std::string MissingNginx() {
  return access(kNginx, X_OK) == 0
             ? ""
             : std::string(kNginx) + " is not installed (Debian package nginx-light)";
}

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

TEST(NginxSite, CarriesAFirstInstallationOfTheLoader) {
  FERROVAN_SKIP_WHEN_MISSING(MissingNginx());
  testing_support::DownloadService served;  // not started: only its folder is used
  NginxSite nginx(served.Folder());
  ASSERT_TRUE(nginx.Ready()) << nginx.Log();
  testing_support::Device device;
  device.SetPlatformType("PocketPC");
  const std::string address =
      "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/FerroVanService";

  const auto run = device.RunLoader({}, address + "\n");
  EXPECT_EQ(run.exitStatus, 0);
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u) << run.out << run.err;
  EXPECT_EQ(starts[0].back(), "-NewLoader");
  for (const auto& name : testing_support::RequiredFiles()) {
    EXPECT_TRUE(ReadFile(device.Install(name)) == ReadFile(served.File(name))) << name;
  }
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), testing_support::SettingsFile(address));
}

}  // namespace
