// What only Linux has of the device root: its paths, and where it is chosen (XDG_DATA_HOME,
// the home folder, the system's folders). The cases of every host are in
// device_root_test.cpp.
#include "platform/device_root.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/host.h"
#include "tests/support/temp_dir.h"

namespace {

// Sets (or, given nullopt, removes) one environment variable for the length of a test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    Apply(value);
  }
  ~ScopedEnv() { Apply(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_, value->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

std::string CurrentFolder() {
  return std::filesystem::current_path().string();
}

TEST(DeviceRoot, MapsDevicePathsIntoTheRoot) {
  platform::SetDeviceRoot("/dev-root/");
  EXPECT_EQ(platform::DeviceRoot(), "/dev-root");
  const struct {
    const wchar_t* device;
    const char* host;
  } cases[] = {
      {L"Program Files\\FerroVanMobile\\x.dll", "/dev-root/Program Files/FerroVanMobile/x.dll"},
      {L"\\Windows\\WCELOAD.EXE", "/dev-root/Windows/WCELOAD.EXE"},
      {L"Application\\FerroVanMobile\\", "/dev-root/Application/FerroVanMobile/"},
      {L"Temp\\caf\xE9.cab", "/dev-root/Temp/caf\xC3\xA9.cab"},
      {L"", "/dev-root"},
      {L"\\", "/dev-root"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ToHostPath(std::wstring_view(c.device)), c.host);
    EXPECT_EQ(platform::ToHostPath(std::string_view(platform::WideToUtf8(c.device))), c.host);
  }

  platform::SetDeviceRoot("/");
  EXPECT_EQ(platform::ToHostPath(std::wstring_view(L"\\Windows\\x")), "/Windows/x");
}

TEST(DeviceRoot, RelativeRootsAreMadeAbsolute) {
  platform::SetDeviceRoot("device/./here/");
  EXPECT_EQ(platform::DeviceRoot(), CurrentFolder() + "/device/here");
  platform::SetDeviceRoot("");
  EXPECT_EQ(platform::DeviceRoot(), CurrentFolder());
}

TEST(DeviceRoot, ChoosesTheRootInOrder) {
  const std::string installed = "/x/Program Files/FerroVanMobile/FerroVan.Mobile.Client.Load.exe";
  const std::string elsewhere = "/usr/bin/ferrovan-loader";
  const struct {
    const char* option;
    std::optional<std::string> environment;
    std::string program;
    std::optional<std::string> dataHome;
    std::string expected;
    bool usable = true;
  } cases[] = {
      {"/opt/root", "/env/root", installed, "/xdg", "/opt/root"},
      {"rel", "/env/root", installed, "/xdg", CurrentFolder() + "/rel"},
      {nullptr, "/env/root", installed, "/xdg", "/env/root"},
      {"", "env/rel", installed, "/xdg", CurrentFolder() + "/env/rel"},
      {nullptr, std::nullopt, installed, "/xdg", "/x"},
      {nullptr, "", installed, "/xdg", "/x"},
      {nullptr, std::nullopt, "/x/program files/FerroVanMobile/l.exe", "/xdg",
       "/xdg/ferrovan/device"},
      {nullptr, std::nullopt, elsewhere, "/xdg/", "/xdg/ferrovan/device"},
      {nullptr, std::nullopt, elsewhere, std::nullopt, "/home/tester/.local/share/ferrovan/device"},
      {nullptr, std::nullopt, elsewhere, "relative", "/home/tester/.local/share/ferrovan/device"},
      {nullptr, std::nullopt, "", "", "/home/tester/.local/share/ferrovan/device"},
      // Installed where X would be the host's top, a system folder or the home folder: the
      // device lives in the data folder instead.
      {nullptr, std::nullopt, "/Program Files/FerroVanMobile/l.exe", "/xdg",
       "/xdg/ferrovan/device"},
      {nullptr, std::nullopt, "/usr/Program Files/FerroVanMobile/l.exe", "/xdg",
       "/xdg/ferrovan/device"},
      {nullptr, std::nullopt, "/usr/local/Program Files/FerroVanMobile/l.exe", "/xdg",
       "/xdg/ferrovan/device"},
      {nullptr, std::nullopt, "/home/tester/Program Files/FerroVanMobile/l.exe", "/xdg",
       "/xdg/ferrovan/device"},
      {nullptr, std::nullopt, "/var/Program Files/FerroVanMobile/l.exe", "/xdg",
       "/xdg/ferrovan/device"},
      {nullptr, std::nullopt, "/var/lib/x/Program Files/FerroVanMobile/l.exe", "/xdg",
       "/var/lib/x"},
      // Named as the root, such a folder is refused.
      {"/", std::nullopt, installed, "/xdg", "/", false},
      {"/etc/", std::nullopt, installed, "/xdg", "/etc", false},
      {"/usr/local/device", std::nullopt, installed, "/xdg", "/usr/local/device", false},
      {nullptr, "/home/tester", installed, "/xdg", "/home/tester", false},
      {nullptr, "/tmp", installed, "/xdg", "/tmp", false},
      {nullptr, "/tmp/device", installed, "/xdg", "/tmp/device"},
  };
  ScopedEnv home("HOME", "/home/tester");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.option != nullptr ? c.option : "(no option)") + " | " +
                 c.environment.value_or("(unset)") + " | " + c.program);
    ScopedEnv root("FERROVAN_DEVICE_ROOT", c.environment);
    ScopedEnv dataHome("XDG_DATA_HOME", c.dataHome);
    std::string chosen;
    EXPECT_EQ(platform::ChooseDeviceRoot(c.option, c.program, chosen), c.usable);
    EXPECT_EQ(chosen, c.expected);
  }
}

// In a child with a mount namespace of its own, a small tmpfs mounted on card: named, it is the
// root; as the folder around an installation, it is passed over. The child's exit status carries
// the first check that failed.
TEST(DeviceRoot, NamedMountPointIsTakenButNeverDerived) {
  ASSERT_EQ(geteuid(), 0u) << "needs root, to mount a file system";
  testing_support::TempDir scratch;
  const std::string card = scratch / "card";
  const std::string xdg = scratch / "xdg";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0) {
      _exit(10);
    }
    // Kept from the other namespaces where "/" is a mount point; in a chroot it is not, and the
    // tmpfs is then unmounted before the child ends, whatever it would reach.
    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    if (mkdir(card.c_str(), 0700) != 0 ||
        mount("ferrovan-card", card.c_str(), "tmpfs", 0, "size=64k") != 0) {
      _exit(10);
    }
    const auto finish = [&](int status) {
      umount2(card.c_str(), MNT_DETACH);
      _exit(status);
    };
    setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    unsetenv("FERROVAN_DEVICE_ROOT");
    std::string chosen;
    if (!platform::ChooseDeviceRoot(card.c_str(), "", chosen) || chosen != card) {
      finish(11);
    }
    setenv("FERROVAN_DEVICE_ROOT", card.c_str(), 1);
    if (!platform::ChooseDeviceRoot(nullptr, "", chosen) || chosen != card) {
      finish(12);
    }
    unsetenv("FERROVAN_DEVICE_ROOT");
    if (!platform::ChooseDeviceRoot(nullptr, card + "/Program Files/FerroVanMobile/l.exe",
                                    chosen) ||
        chosen != xdg + "/ferrovan/device") {
      finish(13);
    }
    finish(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "10: no tmpfs; 11: refused by option; 12: refused by variable; 13: derived";
}

TEST(DeviceRoot, RelativeProgramPathIsResolvedBeforeLookingForTheInstallFolder) {
  ScopedEnv root("FERROVAN_DEVICE_ROOT", std::nullopt);
  std::string chosen;
  EXPECT_TRUE(
      platform::ChooseDeviceRoot(nullptr, "dev/Program Files/FerroVanMobile/l.exe", chosen));
  EXPECT_EQ(chosen, CurrentFolder() + "/dev");
}

}  // namespace
