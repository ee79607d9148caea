// What only Linux has of the device's files: a running program's file, found by the file it
// runs from under any of its names. The cases of every host are in files_test.cpp.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::Files;
using testing_support::Exists;
using testing_support::WriteFile;

class LinuxFilesTest : public ::testing::Test {
 protected:
  LinuxFilesTest() {
    platform::SetDeviceRoot(root_.Path());
    std::filesystem::create_directories(root_ / "Program Files");
  }

  testing_support::TempDir root_;
};

// Stops and reaps, when it ends, every child this test process started.
struct ChildrenStopper {
  ~ChildrenStopper() { testing_support::StopAndReapChildren(); }
};

TEST_F(LinuxFilesTest, DeleteFileRefusesTheFileOfARunningProgram) {
  namespace fs = std::filesystem;
  const ChildrenStopper stopper;
  const std::string folder = root_ / "Program Files/";
  fs::copy_file("/bin/sleep", folder + "Runner.exe");
  fs::copy_file("/bin/sleep", folder + "Idle.exe");
  fs::create_hard_link(folder + "Runner.exe", folder + "Runner.link.exe");
  fs::create_symlink("Runner.exe", folder + "Runner.symlink.exe");
  // The shell blocks opening the pipe, so the script keeps running without a child of its own.
  WriteFile(folder + "Runner.sh", "#!/bin/sh\nread line < block.fifo\n");
  fs::permissions(folder + "Runner.sh", fs::perms(0755));
  ASSERT_EQ(mkfifo((root_ / "block.fifo").c_str(), 0600), 0);

  ASSERT_TRUE(platform::Processes().Start(L"Program Files\\Runner.exe", L"300", false));
  ASSERT_TRUE(platform::Processes().Start(L"Program Files\\Runner.sh", L"", false));
  std::vector<std::uint32_t> running;
  ASSERT_TRUE(testing_support::WaitUntil([&] {
    running.clear();
    auto snapshot = platform::Processes().TakeSnapshot();
    platform::ProcessEntry entry;
    while (snapshot != nullptr && snapshot->Next(entry)) {
      if (entry.exeFile == std::wstring(L"Runner.exe") ||
          entry.exeFile == std::wstring(L"Runner.sh")) {
        running.push_back(entry.processId);
      }
    }
    return running.size() == 2;
  }));

  const struct {
    const wchar_t* file;
    bool deleted;
  } cases[] = {
      {L"Program Files\\Runner.exe", false},
      {L"Program Files\\Runner.link.exe", false},  // another name of the running file
      {L"Program Files\\Runner.sh", false},
      {L"Program Files\\Runner.symlink.exe", true},  // the link goes, its target stays
      {L"Program Files\\Idle.exe", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Files().DeleteFile(c.file), c.deleted) << c.file;
    EXPECT_EQ(fs::exists(fs::symlink_status(platform::ToHostPath(std::wstring_view(c.file)))),
              !c.deleted)
        << c.file;
  }

  // Once the programs have ended, their files go as any other.
  for (std::uint32_t processId : running) {
    EXPECT_TRUE(platform::Processes().Terminate(processId));
    EXPECT_EQ(waitpid(static_cast<pid_t>(processId), nullptr, 0), static_cast<pid_t>(processId));
  }
  for (const wchar_t* file : {L"Program Files\\Runner.exe", L"Program Files\\Runner.link.exe",
                              L"Program Files\\Runner.sh"}) {
    EXPECT_TRUE(Files().DeleteFile(file)) << file;
  }
}

struct LinkCase {
  const char* link;    // made a symbolic link, relative to the root
  const char* target;  // what it points at; relative to the root when it does not start with /
  const wchar_t* path;
  bool linked;
};

class LinkedFolderTest : public LinuxFilesTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkedFolderTest, AFolderOnTheWayThatIsALinkIsFound) {
  const testing_support::TempDir elsewhere;
  std::filesystem::create_directories(elsewhere / "FerroVanMobile");
  std::filesystem::create_directories(root_ / "Real/FerroVanMobile");
  std::filesystem::create_directories(std::filesystem::path(root_ / GetParam().link).parent_path());
  const std::string target = GetParam().target[0] == '/' ? elsewhere.Path() + GetParam().target
                                                         : root_ / GetParam().target;
  std::filesystem::create_symlink(target, root_ / GetParam().link);
  EXPECT_EQ(Files().IsReachedThroughLink(GetParam().path), GetParam().linked);
}

INSTANTIATE_TEST_SUITE_P(
    Links, LinkedFolderTest,
    ::testing::Values(
        LinkCase{"Program Files/FerroVanMobile", "/FerroVanMobile",
                 L"Program Files\\FerroVanMobile\\", true},
        LinkCase{"Temp", "/", L"Temp\\", true}, LinkCase{"Temp", "/", L"\\Temp", true},
        LinkCase{"Windows/Start Menu", "/", L"Windows\\Start Menu\\Programs\\", true},
        // Inside the device or dangling, a link is still one: the loader follows none.
        LinkCase{"Program Files/FerroVanMobile", "Real/FerroVanMobile",
                 L"Program Files\\FerroVanMobile\\", true},
        LinkCase{"Temp", "/missing", L"Temp\\", true},
        // A link beside the path, or below its end, is not on the way.
        LinkCase{"Temp", "/", L"Windows\\Start Menu\\Programs\\", false},
        LinkCase{"Program Files/FerroVanMobile/sub", "/", L"Program Files\\FerroVanMobile\\",
                 false}));

TEST(LinkedRootTest, TheRootItselfMayBeALinkAndTheDevicesFoldersAreNotMadeThroughOne) {
  testing_support::TempDir scratch;
  std::filesystem::create_directories(scratch / "real");
  std::filesystem::create_directories(scratch / "elsewhere");
  std::filesystem::create_symlink(scratch / "real", scratch / "root");
  std::filesystem::create_symlink(scratch / "elsewhere", scratch / "real/Windows");
  platform::SetDeviceRoot(scratch / "root");
  ASSERT_TRUE(platform::CreateSystemFolders());
  EXPECT_FALSE(Files().IsReachedThroughLink(L"Program Files\\"));
  EXPECT_TRUE(Files().IsReachedThroughLink(L"Windows\\Desktop\\"));
  EXPECT_TRUE(std::filesystem::is_empty(scratch / "elsewhere"));
  EXPECT_TRUE(Exists(scratch / "real/Temp"));
}

// A small file system of its own, mounted on a folder for as long as this lives.
class SmallMount {
 public:
  SmallMount(const std::string& folder, const char* size) : folder_(folder) {
    std::filesystem::create_directories(folder);
    mounted_ = mount("ferrovan-test", folder.c_str(), "tmpfs", 0,
                     (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallMount() {
    if (mounted_) {
      umount2(folder_.c_str(), MNT_DETACH);
    }
  }
  SmallMount(const SmallMount&) = delete;
  SmallMount& operator=(const SmallMount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Temp and the install folder on two file systems: the move is a copy, which never leaves a cut
// file under the destination's name, nor a new file beside it, whether it fits or not.
TEST_F(LinuxFilesTest, AMoveAcrossFileSystemsIsWholeUnderItsNameOrAbsent) {
  ASSERT_EQ(geteuid(), 0u) << "needs root, to mount a file system";
  std::filesystem::create_directories(root_ / "Temp");
  const SmallMount install(root_ / "Program Files/FerroVanMobile", "256k");
  ASSERT_TRUE(install.mounted());
  const struct {
    const char* name;
    std::size_t bytes;
    bool fits;
  } cases[] = {{"small.dll", 100000, true}, {"large.dll", 1000000, false}};
  for (const auto& move : cases) {
    SCOPED_TRACE(move.name);
    std::string content(move.bytes, 'c');
    for (std::size_t i = 0; i < content.size(); i += 4093) {
      content[i] = static_cast<char>('a' + i % 26);
    }
    const std::string from = root_ / ("Temp/" + std::string(move.name));
    const std::string to = root_ / ("Program Files/FerroVanMobile/" + std::string(move.name));
    WriteFile(from, content);
    const std::wstring deviceFrom = L"Temp\\" + platform::Utf8ToWide(move.name);
    const std::wstring deviceTo =
        L"Program Files\\FerroVanMobile\\" + platform::Utf8ToWide(move.name);
    EXPECT_EQ(Files().MoveFile(deviceFrom.c_str(), deviceTo.c_str()), move.fits);
    if (move.fits) {
      EXPECT_EQ(testing_support::ReadFile(to), content);
      EXPECT_FALSE(Exists(from));
    } else {
      EXPECT_FALSE(Exists(to));
      EXPECT_EQ(testing_support::ReadFile(from), content);
    }
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(root_ / "Program Files/FerroVanMobile")) {
      names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names,
              move.fits ? std::vector<std::string>{"small.dll"} : std::vector<std::string>{});
    std::filesystem::remove(to);
  }
}

}  // namespace
