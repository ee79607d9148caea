// What only Linux has of the device root: its paths, and where it is chosen (XDG_DATA_HOME,
// the home folder, the system's folders). The cases of every host are in
// device_root_test.cpp.
#include "platform/device_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/host.h"

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

TEST(DeviceRoot, RelativeProgramPathIsResolvedBeforeLookingForTheInstallFolder) {
  ScopedEnv root("FERROVAN_DEVICE_ROOT", std::nullopt);
  std::string chosen;
  EXPECT_TRUE(
      platform::ChooseDeviceRoot(nullptr, "dev/Program Files/FerroVanMobile/l.exe", chosen));
  EXPECT_EQ(chosen, CurrentFolder() + "/dev");
}

}  // namespace
