// What only Linux shows of the device lock: it is its owner's, so that another user of the host
// can neither take it nor hold up the owner's start. Runs as root, as the test command does, and
// drops to user nobody in a child process for the other user.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_lock.h"
#include "platform/device_root.h"
#include "platform/host.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

// As user nobody, locks the root folder and every entry of it that it can open, tells the parent
// through ready, and holds all of it until the parent closes its end of hold.
pid_t LockEverythingAsNobody(const std::string& root, uid_t nobody, gid_t group,
                             const int (&ready)[2], const int (&hold)[2]) {
  const pid_t child = fork();
  if (child != 0) {
    return child;
  }
  // The parent's ends, so that its close of hold is the end of the child's wait.
  close(ready[0]);
  close(hold[1]);
  if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(nobody) != 0) {
    _exit(3);
  }
  std::vector<std::string> paths = {root};
  if (DIR* listing = opendir(root.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      paths.push_back(root + "/" + entry->d_name);
    }
    closedir(listing);
  }
  for (const std::string& path : paths) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd >= 0) {
      flock(fd, LOCK_EX | LOCK_NB);
    }
  }
  char byte = 'r';
  if (write(ready[1], &byte, 1) != 1) {
    _exit(4);
  }
  while (read(hold[0], &byte, 1) > 0) {
  }
  _exit(0);
}

struct RootCase {
  const char* what;
  bool madeByLoader;  // else already there, readable by everyone (0755)
};

class DeviceLockOwnerTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(DeviceLockOwnerTest, AnotherUserCannotTakeTheLockNorHoldUpTheOwner) {
  ASSERT_EQ(geteuid(), 0u) << "needs root, to be another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr) << "no user nobody";
  TempDir scratch;
  // The way to the root is open to everyone, as a home folder's data folder may be.
  ASSERT_EQ(chmod(scratch.Path().c_str(), 0755), 0);
  const std::string root = scratch / "device";
  if (!GetParam().madeByLoader) {
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
  }
  platform::SetDeviceRoot(root);
  ASSERT_TRUE(platform::CreateSystemFolders());
  // A first run made whatever the lock needs.
  bool heldElsewhere = false;
  ASSERT_NE(platform::LockDevice(false, heldElsewhere), nullptr);

  int ready[2];
  int hold[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(hold, O_CLOEXEC), 0);
  const pid_t child = LockEverythingAsNobody(root, nobody->pw_uid, nobody->pw_gid, ready, hold);
  ASSERT_GT(child, 0);
  close(ready[1]);
  close(hold[0]);
  char byte = 0;
  const bool childReady = read(ready[0], &byte, 1) == 1;

  // Taken at once, without waiting: nobody holds it.
  const std::unique_ptr<platform::HeldDeviceLock> lock = platform::LockDevice(false, heldElsewhere);
  EXPECT_NE(lock, nullptr);
  EXPECT_FALSE(heldElsewhere);

  close(hold[1]);
  close(ready[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(childReady);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

INSTANTIATE_TEST_SUITE_P(Roots, DeviceLockOwnerTest,
                         ::testing::Values(RootCase{"MadeByTheLoader", true},
                                           RootCase{"OpenToEveryone", false}),
                         [](const ::testing::TestParamInfo<RootCase>& rootCase) {
                           return std::string(rootCase.param.what);
                         });

// A child that takes the lock as a loader does and reports on its pipe: 'w' when it says that
// it waits, 't' once it has the lock. It keeps no other descriptor of this process: a lock
// shared with it would outlive the parent's.
pid_t TakeInChild(const int (&report)[2]) {
  const pid_t child = fork();
  if (child != 0) {
    return child;
  }
  const int out = report[1];
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != out) {
      close(fd);
    }
  }
  const auto lock = platform::DeviceLock().Take(
      [out] { [[maybe_unused]] const ssize_t written = write(out, "w", 1); });
  _exit(lock != nullptr && write(out, "t", 1) == 1 ? 0 : 3);
}

// What the pipe has brought within milliseconds.
std::string ReadReport(int fd, int milliseconds) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    char byte = 0;
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
        read(fd, &byte, 1) != 1) {
      return got;
    }
    got += byte;
  }
}

// A loader started by the lock's holder (the newest loader) waits for it without a word; one
// started by anything else says at once that it waits.
TEST(DeviceLockStartedLoader, OnlyALoaderStartedByTheHolderWaitsQuietly) {
  for (const bool holderStartsIt : {true, false}) {
    SCOPED_TRACE(holderStartsIt ? "started by the holder" : "started by another process");
    TempDir root;
    platform::SetDeviceRoot(root.Path());
    std::unique_ptr<platform::HeldDeviceLock> ownLock;
    pid_t holder = -1;
    int hold[2];
    ASSERT_EQ(pipe2(hold, O_CLOEXEC), 0);
    if (holderStartsIt) {
      ownLock = platform::DeviceLock().Take(nullptr);
      ASSERT_NE(ownLock, nullptr);
    } else {
      // A sibling holds it: the taker's parent (this test) does not.
      holder = fork();
      ASSERT_GE(holder, 0);
      if (holder == 0) {
        close(hold[1]);
        const auto lock = platform::DeviceLock().Take(nullptr);
        char byte = 0;
        while (read(hold[0], &byte, 1) > 0) {
        }
        _exit(lock != nullptr ? 0 : 3);
      }
      ASSERT_TRUE(testing_support::WaitUntil([&] {
        bool heldElsewhere = false;
        return platform::LockDevice(false, heldElsewhere) == nullptr && heldElsewhere;
      }));
    }
    close(hold[0]);
    int report[2];
    ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
    const pid_t taker = TakeInChild(report);
    ASSERT_GT(taker, 0);
    close(report[1]);
    // Well within the quiet wait's bound.
    const std::string early = ReadReport(report[0], 1500);
    ownLock.reset();
    close(hold[1]);
    const std::string late = ReadReport(report[0], 20000);
    close(report[0]);
    EXPECT_EQ(early, holderStartsIt ? "" : "w");
    EXPECT_EQ(late, "t");
    int status = 0;
    EXPECT_EQ(waitpid(taker, &status, 0), taker);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    if (holder > 0) {
      EXPECT_EQ(waitpid(holder, &status, 0), holder);
    }
  }
}

}  // namespace
