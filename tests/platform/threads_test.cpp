// The worker's thread, on every host.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/fake_front_end.h"

namespace {

struct Work {
  std::thread::id thread;
};

unsigned DoWork(void* parameter) {
  static_cast<Work*>(parameter)->thread = std::this_thread::get_id();
  return 0;
}

TEST(Threads, ADetachedThreadRunsOnItsOwnThreadAndTellsTheFrontEndAfterwards) {
  // Static: the detached thread may still be returning from the front end when the test ends.
  static testing_support::FakeFrontEnd frontEnd;
  static Work work;
  platform::ScopedService<platform::DialogFrontEnd> guard(frontEnd);
  ASSERT_TRUE(platform::Threads().StartDetached(DoWork, &work));
  ASSERT_TRUE(frontEnd.WaitFor([](auto& front) { return front.ThreadsEnded() == 1; }));
  EXPECT_NE(work.thread, std::thread::id()) << "the front end is told after the work has ended";
  EXPECT_NE(work.thread, std::this_thread::get_id());
}

}  // namespace
