// What only Linux has of shortcuts: a symbolic link planted at the shortcut's name (Wine cannot
// make one). The cases of every host are in shell_system_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/device_root.h"
#include "platform/shell.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

class LinuxShellTest : public ::testing::Test {
 protected:
  LinuxShellTest() { platform::SetDeviceRoot(root_.Path()); }
  testing_support::TempDir root_;
};

// A link planted at the shortcut's name, to a file outside the device or to nowhere, is
// replaced by the shortcut; its target is never written.
TEST_F(LinuxShellTest, ShortcutReplacesALinkAtItsNameAndLeavesItsTargetAlone) {
  testing_support::TempDir elsewhere;
  const std::string shortcut = root_ / "Windows/Start Menu/Programs/Quillmar Transport.lnk";
  testing_support::MakeFolders(root_ / "Windows/Start Menu/Programs");
  for (const std::string& target : {elsewhere / "victim", elsewhere / "missing"}) {
    SCOPED_TRACE(target);
    if (target.ends_with("victim")) {
      WriteFile(target, "precious");
    }
    std::filesystem::remove(shortcut);
    std::filesystem::create_symlink(target, shortcut);

    EXPECT_TRUE(platform::Shell().CreateShortcut(
        L"\\Windows\\Start Menu\\Programs\\Quillmar Transport.lnk", L"\"x\""));
    EXPECT_FALSE(std::filesystem::is_symlink(shortcut));
    EXPECT_EQ(ReadFile(shortcut), "3#\"x\"");
    EXPECT_EQ(ReadFile(elsewhere / "victim"), "precious");
    EXPECT_FALSE(testing_support::Exists(elsewhere / "missing"));
  }
}

}  // namespace
