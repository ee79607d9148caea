// What only Linux has of small files: files whose size is not known ahead (/proc). The cases
// of every host are in small_files_test.cpp.
#include "platform/small_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/device_root.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::SmallFiles;

// A file may hold more than its size said when it was opened (it grew, or the system does not
// know its size ahead, as for /proc): the read still takes all of it, up to the limit.
TEST(SmallFilesRead, TakesMoreThanTheSizeTheFileHadWhenOpened) {
  platform::SetDeviceRoot("/proc/self");
  ASSERT_EQ(std::filesystem::file_size("/proc/self/status"), 0u);
  std::string content;
  ASSERT_TRUE(SmallFiles().ReadWholeFile("status", 64 * 1024, content));
  EXPECT_EQ(content.rfind("Name:", 0), 0u) << content;
  EXPECT_NE(content.find("\nPid:"), std::string::npos) << content;
  EXPECT_FALSE(SmallFiles().ReadWholeFile("status", 16, content));
  EXPECT_EQ(content, "");
}

// A writer holds its new file locked until the move: a sweep meanwhile leaves it alone.
TEST(LinuxSmallFiles, ANewFileThatItsWriterHoldsIsSpared) {
  testing_support::TempDir root;
  platform::SetDeviceRoot(root.Path());
  const std::string file = root / "Temp/.RFConfig.xml.abcdefghij12.tmp";
  testing_support::WriteFile(file, "half");
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  SmallFiles().RemoveAbandonedReplacements("Temp\\RFConfig.xml");
  EXPECT_TRUE(testing_support::Exists(file));
  close(fd);
  SmallFiles().RemoveAbandonedReplacements("Temp\\RFConfig.xml");
  EXPECT_FALSE(testing_support::Exists(file));
}

}  // namespace
