// What only Windows has of threads: the bounded wait for started threads at the end, and COM.
// The cases of every host are in tests/platform/threads_test.cpp.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/com.h"
#include "platform/win32/started_threads.h"
#include "platform/windows_types.h"
#include "tests/support/fake_front_end.h"

namespace {

unsigned WaitForEvent(void* event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 0;
}

// The entry lets the threads end before the process does, for a bounded time only.
TEST(Win32ThreadsTest, StartedThreadsAreWaitedForWithinTheBound) {
  static testing_support::FakeFrontEnd frontEnd;
  platform::ScopedService<platform::DialogFrontEnd> guard(frontEnd);
  const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(release, nullptr);
  ASSERT_TRUE(platform::Threads().StartDetached(WaitForEvent, release));
  EXPECT_FALSE(platform::WaitForStartedThreads(50)) << "the thread still waits";
  SetEvent(release);
  EXPECT_TRUE(platform::WaitForStartedThreads(30000));
  CloseHandle(release);
}

TEST(Win32ComTest, JoinsTheMultithreadedApartmentAndLeavesItBalanced) {
  std::thread([] {
    platform::Com().InitializeThread();
    // The thread is in the multithreaded apartment: a single-threaded one is refused.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    platform::Com().UninitializeThread();
    // Left: a new apartment of either kind may be entered.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
  }).join();

  std::thread([] {
    // A thread already in another apartment keeps it: the refused initialisation is not undone.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    platform::Com().InitializeThread();
    platform::Com().UninitializeThread();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE) << "still initialised";
    CoUninitialize();
    CoUninitialize();
  }).join();
}

}  // namespace
