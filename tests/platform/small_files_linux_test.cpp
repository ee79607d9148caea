// What only Linux has of small files: files whose size is not known ahead (/proc). The cases
// of every host are in small_files_test.cpp.
#include "platform/small_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/device_root.h"

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

}  // namespace
