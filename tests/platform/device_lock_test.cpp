// The device lock on a scratch device root: one holder at a time, across open files of one
// process as across processes, and none at all without a device root.
#include "platform/device_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/device_root.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WaitUntil;

TEST(DeviceLockTest, ASecondTakerWaitsUntilTheFirstLetsGo) {
  TempDir root;
  platform::SetDeviceRoot(root.Path());
  std::unique_ptr<platform::HeldDeviceLock> first = platform::DeviceLock().Take(nullptr);
  ASSERT_NE(first, nullptr);

  std::atomic<bool> waiting{false}, taken{false};
  std::thread second([&] {
    auto lock = platform::DeviceLock().Take([&] { waiting = true; });
    taken = lock != nullptr;
  });
  ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
  EXPECT_FALSE(taken);
  first.reset();
  EXPECT_TRUE(WaitUntil([&] { return taken.load(); }));
  second.join();

  // Free again: taken at once, without waiting.
  bool waited = false;
  EXPECT_NE(platform::DeviceLock().Take([&] { waited = true; }), nullptr);
  EXPECT_FALSE(waited);
}

TEST(DeviceLockTest, WithoutADeviceRootThereIsNoLockAndNoWait) {
  TempDir scratch;
  testing_support::WriteFile(scratch / "file", "not a folder");
  for (const std::string& root : {scratch / "missing", scratch / "file"}) {
    SCOPED_TRACE(root);
    platform::SetDeviceRoot(root);
    bool waited = false;
    EXPECT_EQ(platform::DeviceLock().Take([&] { waited = true; }), nullptr);
    EXPECT_FALSE(waited);
  }
}

}  // namespace
