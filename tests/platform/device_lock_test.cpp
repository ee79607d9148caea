// The device lock on a scratch device root, on every host: one holder at a time, held past the
// end of the thread that took it, and none at all without a device root.
#include "platform/device_lock.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/device_root.h"
#include "tests/platform/lock_taker.h"
#include "tests/support/temp_dir.h"

namespace {

using platform_testing::Taker;
using testing_support::TempDir;
using testing_support::WaitUntil;

TEST(DeviceLockTest, HeldPastItsThreadUntilReleasedThenFreeAtOnce) {
  TempDir root;
  platform::SetDeviceRoot(root.Path());
  std::unique_ptr<platform::HeldDeviceLock> first;
  std::thread([&first] { first = platform::DeviceLock().Take(nullptr); }).join();
  ASSERT_NE(first, nullptr);

  {
    Taker second;
    ASSERT_TRUE(WaitUntil([&] { return second.waiting(); }));
    EXPECT_FALSE(second.taken());
    first.reset();
    EXPECT_TRUE(WaitUntil([&] { return second.taken(); }));
  }
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
