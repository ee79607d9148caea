// What only Windows has of the device lock: its file, and a holder in another process, which
// lets go when it ends. The cases of every host are in tests/platform/device_lock_test.cpp.
#include "platform/device_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/device_root.h"
#include "tests/platform/lock_taker.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/platform/service_test_support.h"

namespace {

using platform_testing::Taker;
using service_tests::Exists;
using service_tests::HelperProcess;
using service_tests::Wide;
using testing_support::TempDir;
using testing_support::WaitUntil;

TEST(Win32DeviceLockTest, TheLockFileStaysSoThatEveryLoaderLocksTheSameFile) {
  TempDir root;
  platform::SetDeviceRoot(root.Path());
  ASSERT_NE(platform::DeviceLock().Take(nullptr), nullptr);  // taken and let go at once
  EXPECT_TRUE(Exists(Wide(platform::ToHostPath("Temp\\ferrovan-device.lock"))));
}

TEST(Win32DeviceLockTest, AnotherProcessHoldsItUntilItEnds) {
  enum class End { Exits, IsKilled };
  for (End end : {End::Exits, End::IsKilled}) {
    SCOPED_TRACE(end == End::Exits ? "exits" : "is killed");
    TempDir root;
    platform::SetDeviceRoot(root.Path());
    const std::wstring ready = Wide(root / "ready");
    const std::wstring go = Wide(root / "go");
    auto holder = std::make_unique<HelperProcess>(L"lock \"" + Wide(root.Path()) + L"\" \"" +
                                                  ready + L"\" \"" + go + L"\"");
    ASSERT_TRUE(holder->started());
    ASSERT_TRUE(WaitUntil([&] { return Exists(ready); }));

    Taker taker;
    ASSERT_TRUE(WaitUntil([&] { return taker.waiting(); }));
    EXPECT_FALSE(taker.taken());
    if (end == End::Exits) {
      service_tests::WriteBytes(go, "");
      EXPECT_TRUE(holder->WaitForEnd());
    } else {
      holder.reset();
    }
    EXPECT_TRUE(WaitUntil([&] { return taker.taken(); }));
  }
}

}  // namespace
