// The nginx site of deploy/nginx serves the download folder as the loader expects: a real nginx
// runs the snippet with its folder and port pointed at the test's own. A first installation
// through it is one of the shared roads (tests/e2e/roads_test.cpp).
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

}  // namespace
