#include "platform/threads.h"

#include <gtest/gtest.h>

#include "tests/support/fake_front_end.h"

namespace {

struct Work {
  int done = 0;
};

unsigned DoWork(void* parameter) {
  static_cast<Work*>(parameter)->done = 42;
  return 0;
}

TEST(Threads, DetachedThreadRunsAndTellsTheFrontEnd) {
  // Static: the detached thread may still be returning from the front end when the test ends.
  static testing_support::FakeFrontEnd frontEnd;
  static Work work;
  platform::ScopedService<platform::DialogFrontEnd> guard(frontEnd);
  ASSERT_TRUE(platform::Threads().StartDetached(DoWork, &work));
  ASSERT_TRUE(frontEnd.WaitFor([](auto& front) { return front.ThreadsEnded() == 1; }));
  EXPECT_EQ(work.done, 42) << "the front end is told after the work has ended";
}

}  // namespace
