// The device lock on Windows: one holder at a time, whether in this process or another, held
// past the end of the thread that took it, and let go when its process ends.
#include "platform/device_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/device_root.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/platform/service_test_support.h"

namespace {

using service_tests::Exists;
using service_tests::HelperProcess;
using service_tests::Wide;
using testing_support::TempDir;
using testing_support::WaitUntil;

// Takes the lock on its own thread, recording whether it had to wait.
class Taker {
 public:
  Taker()
      : thread_([this] {
          lock_ = platform::DeviceLock().Take([this] { waiting_ = true; });
          taken_ = lock_ != nullptr;
        }) {}
  ~Taker() { thread_.join(); }
  Taker(const Taker&) = delete;
  Taker& operator=(const Taker&) = delete;
  bool waiting() const { return waiting_; }
  bool taken() const { return taken_; }

 private:
  std::unique_ptr<platform::HeldDeviceLock> lock_;
  std::atomic<bool> waiting_{false};
  std::atomic<bool> taken_{false};
  std::thread thread_;
};

TEST(Win32DeviceLockTest, HeldPastItsThreadUntilReleasedThenFreeAtOnce) {
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
  EXPECT_TRUE(Exists(Wide(platform::ToHostPath("Temp\\ferrovan-device.lock"))))
      << "the lock file stays, so that every loader locks the same file";
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

TEST(Win32DeviceLockTest, WithoutADeviceRootThereIsNoLockAndNoWait) {
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
