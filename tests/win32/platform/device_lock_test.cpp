// What only Windows has of the device lock: its file, and a holder in another process, which
// lets go when it ends. The cases of every host are in tests/platform/device_lock_test.cpp.
#include "platform/device_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

// A loader started by the lock's holder (the newest loader) waits for it without a word; one
// started by anything else says at once that it waits.
TEST(Win32DeviceLockTest, OnlyALoaderStartedByTheHolderWaitsQuietly) {
  for (const bool holderStartsIt : {true, false}) {
    SCOPED_TRACE(holderStartsIt ? "started by the holder" : "started by another process");
    TempDir root;
    platform::SetDeviceRoot(root.Path());
    const std::wstring ready = Wide(root / "ready");
    const std::wstring go = Wide(root / "go");
    const std::wstring waited = Wide(root / "waited");
    const std::wstring taken = Wide(root / "taken");
    std::unique_ptr<platform::HeldDeviceLock> ownLock;
    std::unique_ptr<HelperProcess> holder;
    if (holderStartsIt) {
      ownLock = platform::DeviceLock().Take(nullptr);
      ASSERT_NE(ownLock, nullptr);
    } else {
      holder = std::make_unique<HelperProcess>(L"lock \"" + Wide(root.Path()) + L"\" \"" + ready +
                                               L"\" \"" + go + L"\"");
      ASSERT_TRUE(WaitUntil([&] { return Exists(ready); }));
    }
    HelperProcess taker(L"take \"" + Wide(root.Path()) + L"\" \"" + waited + L"\" \"" + taken +
                        L"\"");
    ASSERT_TRUE(taker.started());
    if (holderStartsIt) {
      Sleep(1500);
      EXPECT_FALSE(Exists(waited));
      ownLock.reset();
    } else {
      // Well within the quiet wait's bound.
      EXPECT_TRUE(WaitUntil([&] { return Exists(waited); }, std::chrono::seconds(5)));
      service_tests::WriteBytes(go, "");
    }
    EXPECT_TRUE(taker.WaitForEnd());
    EXPECT_TRUE(Exists(taken));
    EXPECT_EQ(Exists(waited), !holderStartsIt);
  }
}

}  // namespace
