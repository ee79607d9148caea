// The download service program itself, as the download tests start and stop it.
#include <signal.h>

#include <gtest/gtest.h>

#include "tests/download_service/download_helpers.h"
#include "tests/support/temp_dir.h"

namespace {

using download_testing::Service;
using testing_support::TempDir;

TEST(DownloadServiceProgram, StopsCleanlyOnTermination) {
  TempDir served;
  for (int signalNumber : {SIGTERM, SIGINT}) {
    Service service(served.Path(), {});
    ASSERT_EQ(kill(service.Process().Pid(), signalNumber), 0);
    EXPECT_EQ(service.Process().Wait(), 0);
  }
}

}  // namespace
