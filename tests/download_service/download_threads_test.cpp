// Downloads from several threads at once, as successive loader workers may run them: each
// thread has its own connection state, and the one-time library set-up is raced.
#include <array>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/device_root.h"
#include "platform/download.h"
#include "tests/download_service/download_helpers.h"
#include "tests/support/temp_dir.h"

namespace {

using download_testing::Device;
using download_testing::RecordingCallback;
using download_testing::Service;

TEST(DownloadThreads, ConcurrentDownloadsEachGetTheirOwnFile) {
  testing_support::TempDir served;
  constexpr int kThreads = 4;
  constexpr int kRounds = 3;
  std::vector<std::string> bodies;
  for (int i = 0; i < kThreads; ++i) {
    bodies.push_back(
        download_testing::PseudoRandomBytes(200 * 1000 + 17 * i, static_cast<unsigned>(i + 10)));
    testing_support::WriteFile(served / ("file" + std::to_string(i)), bodies.back());
  }
  Device device;
  Service service(served.Path(), {"--no-length", "file1"});

  std::vector<std::vector<std::wstring>> cachePaths(kThreads);
  std::vector<std::vector<HRESULT>> results(kThreads);
  std::vector<RecordingCallback> sinks(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      const std::wstring url = service.Url("file" + std::to_string(i));
      for (int round = 0; round < kRounds; ++round) {
        std::array<wchar_t, 260> path{};
        results[i].push_back(
            platform::Downloads().DownloadToCacheFile(url.c_str(), path, &sinks[i], nullptr));
        cachePaths[i].push_back(path.data());
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }

  for (int i = 0; i < kThreads; ++i) {
    for (int round = 0; round < kRounds; ++round) {
      ASSERT_EQ(results[i][round], S_OK) << i << " " << round;
      EXPECT_TRUE(testing_support::ReadFile(device.Host(cachePaths[i][round])) == bodies[i])
          << "thread " << i << " round " << round << " got another body";
    }
    EXPECT_EQ(sinks[i].notes.back().progress, bodies[i].size());
  }
  EXPECT_EQ(device.TempFiles().size(), static_cast<std::size_t>(kThreads * kRounds));
}

}  // namespace
