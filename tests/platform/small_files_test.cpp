#include "platform/small_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/device_root.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::SmallFiles;

TEST(SmallFilesRead, TakesWholeFilesUpToTheLimitAndNothingElse) {
  testing_support::TempDir root;
  platform::SetDeviceRoot(root.Path());
  std::filesystem::create_directories(root / "folder");
  const std::string large(5000, 'x');
  struct Case {
    const char* name;
    const char* content;  // nullptr: nothing is written at name
    std::size_t maxBytes;
    bool read;
  } cases[] = {
      {"empty", "", 10, true},          {"at-limit", "abc", 3, true},
      {"over-limit", "abcd", 3, false}, {"large", large.c_str(), 64 * 1024, true},
      {"missing", nullptr, 10, false},  {"folder", nullptr, 10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.content != nullptr) {
      testing_support::WriteFile(root / c.name, c.content);
    }
    std::string content = "left over";
    EXPECT_EQ(SmallFiles().ReadWholeFile(c.name, c.maxBytes, content), c.read);
    EXPECT_EQ(content, c.read ? std::string(c.content) : std::string());
  }
}

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
