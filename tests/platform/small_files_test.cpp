// Small files read whole by device path, on every host.
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
      {"empty", "", 10, true},
      {"at-limit", "abc", 3, true},
      {"over-limit", "abcd", 3, false},
      {"large", large.c_str(), 64 * 1024, true},
      {"missing", nullptr, 10, false},
      {"folder", nullptr, 10, false},
      {"folder\\in-a-folder", "0123456789", 10, true},
      {"\\folder\\in-a-folder", "0123456789", 10, true},
      {"folder\\in-a-folder", "0123456789", 9, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.content != nullptr) {
      testing_support::WriteFile(platform::ToHostPath(std::string_view(c.name)), c.content);
    }
    std::string content = "left over";
    EXPECT_EQ(SmallFiles().ReadWholeFile(c.name, c.maxBytes, content), c.read);
    EXPECT_EQ(content, c.read ? std::string(c.content) : std::string());
  }
}

// What a save left beside the file when its loader died before the move goes; anything else
// stays, however close its name.
TEST(SmallFilesReplacements, AbandonedOnesGoAndEverythingElseStays) {
  testing_support::TempDir root;
  platform::SetDeviceRoot(root.Path());
  const std::string folder = root / "Program Files/FerroVanMobile/";
  const struct {
    const char* name;
    bool stays;
  } files[] = {
      {".RFConfig.xml.abcdefghij12.tmp", false},
      {".RFConfig.xml.0123456789ab.tmp", false},
      {"RFConfig.xml", true},
      {".RFConfig.xml.short.tmp", true},
      {".RFConfig.xml.abcdefghij12.tmp.bak", true},
      {".RFConfig.xml.ABCDEFGHIJKL.tmp", true},
      {".Other.xml.abcdefghij12.tmp", true},
      {"RFConfig.xml.abcdefghij12.tmp", true},
  };
  for (const auto& file : files) {
    testing_support::WriteFile(folder + file.name, "x");
  }
  std::filesystem::create_directories(folder + ".RFConfig.xml.fedcba987654.tmp");
  SmallFiles().RemoveAbandonedReplacements("Program Files\\FerroVanMobile\\RFConfig.xml");
  for (const auto& file : files) {
    EXPECT_EQ(testing_support::Exists(folder + file.name), file.stays) << file.name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder + ".RFConfig.xml.fedcba987654.tmp"));
  SmallFiles().RemoveAbandonedReplacements("Missing\\RFConfig.xml");  // no folder: nothing
}

}  // namespace
