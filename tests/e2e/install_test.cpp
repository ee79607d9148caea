// The loader's roads driven end to end: the built binary, an emulated device in a temporary
// folder, the console front end and the project's download service on loopback.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/e2e/loopback_device.h"

extern char** environ;

namespace testing_support {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The built loader on a device, started as a shell starts a program (default handling of every
// signal), with its standard output and error into one pipe that the test reads or closes,
// standard input at its end, and optionally a file-size limit.
class ShellStartedLoader {
 public:
  ShellStartedLoader(const Device& device, const std::vector<std::string>& flags,
                     rlim_t fileSizeLimit = RLIM_INFINITY) {
    std::vector<std::string> args = {FERROVAN_LOADER_PATH, "--device-root", device.Root(), "--ui",
                                     "console"};
    args.insert(args.end(), flags.begin(), flags.end());
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::string name = text.substr(0, text.find('='));
      if (name != "FERROVAN_DEVICE_ROOT" && name != "FERROVAN_UI" && name != "DISPLAY" &&
          name != "WAYLAND_DISPLAY")
        envText.push_back(text);
    }
    std::vector<char*> envp;
    for (auto& entry : envText)
      envp.push_back(entry.data());
    envp.push_back(nullptr);

    int out[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      // Other tests in this process may have ignored SIGPIPE; a shell's child would not.
      signal(SIGPIPE, SIG_DFL);
      signal(SIGXFSZ, SIG_DFL);
      const rlimit limit = {fileSizeLimit, fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        _exit(125);
      dup2(devNull, 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(devNull);
    close(out[1]);
    out_ = out[0];
  }
  ~ShellStartedLoader() {
    CloseOutput();
    if (!ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The next line of output without its line end; empty at its end or after 20 s.
  std::string ReadLine() {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      if (!Fill(deadline))
        return {};
    }
  }
  // Everything it writes until the pipe's last writer has ended (at most 60 s).
  std::string ReadAll() {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Fill(deadline)) {
    }
    return std::exchange(pending_, {});
  }
  // What `| head -3` does once it has its lines.
  void CloseOutput() {
    if (out_ >= 0)
      close(out_);
    out_ = -1;
  }
  // The exit status, 128 + the signal that ended it, or -1 when it is still running after 60 s.
  int Wait() {
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                   std::chrono::seconds(60)))
      return -1;
    ended_ = true;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }

 private:
  bool Fill(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready = {out_, POLLIN, 0};
    if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0)
      return false;
    char buffer[4096];
    const ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0)
      return false;
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool ended_ = false;
  std::string pending_;
};

constexpr const char* kShortcutText =
    "62#\"Program Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.exe\"";

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Prompt(const std::string& text) {
  return "Server address [" + text + "]: \n";
}

struct ShortcutPlaces {
  const char* platformType;  // nullptr: the device cannot tell its kind
  std::vector<std::string> made;
};

class FirstInstallation : public ::testing::TestWithParam<ShortcutPlaces> {};

TEST_P(FirstInstallation, TakesTwoLoadersAndEndsInTheClient) {
  Device device;
  if (GetParam().platformType != nullptr)
    device.SetPlatformType(GetParam().platformType);
  const std::string startMenu = device.Path("Windows/Start Menu/Programs/");
  WriteFile(startMenu + "Quillmar Transport (old).lnk", "1#x");
  WriteFile(startMenu + "Other.lnk", "1#y");
  DownloadService service;
  service.Start();

  RunResult first = device.RunLoader({}, service.Address() + "\n");
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_TRUE(Contains(first.out, "Enter URL\n" + Prompt("")));
  EXPECT_TRUE(Contains(first.out, std::string(kLoaderExe) + "\nDownloaded ")) << first.out;
  EXPECT_TRUE(Contains(first.out, std::string(kClientExe) + "\nDownloaded ")) << first.out;

  auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u) << first.out;
  EXPECT_EQ(starts[0],
            (std::vector<std::string>{kClientExe, device.Root(), device.Root(), "-NewLoader"}));

  std::vector<std::string> expected = RequiredFiles();
  expected.push_back("RFConfig.xml");
  // The newest loader's file stays: it was running when that loader cleared the folder.
  expected.push_back("FerroVan.Mobile.Client.Load.New.exe");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(device.Path("Program Files/FerroVanMobile")), expected);
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }

  for (const auto& place : GetParam().made) {
    EXPECT_EQ(ReadFile(device.Path(place)), kShortcutText) << place;
  }
  const bool plain = GetParam().made.size() == 2;
  EXPECT_EQ(Exists(startMenu + "Quillmar Transport.lnk"), !plain);
  EXPECT_EQ(Exists(startMenu + "Quillmar Transport (old).lnk"), plain);
  EXPECT_TRUE(Exists(startMenu + "Other.lnk"));
  EXPECT_EQ(Exists(device.Path("Windows/Desktop/Quillmar Transport.lnk")), plain);

  RunResult second = device.RunLoader({});
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_FALSE(Contains(second.out, "Downloaded")) << second.out;
  EXPECT_EQ(device.ProgramStarts().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    PlatformKinds, FirstInstallation,
    ::testing::Values(
        ShortcutPlaces{"PocketPC", {"Windows/Start Menu/Programs/Quillmar Transport.lnk"}},
        ShortcutPlaces{"Smartphone", {"Windows/Start Menu/Programs/Quillmar Transport.lnk"}},
        ShortcutPlaces{nullptr, {"Windows/Start Menu/Programs/Quillmar Transport.lnk"}},
        ShortcutPlaces{"CEPC",
                       {"Windows/Programs/Quillmar Transport.lnk",
                        "Windows/Desktop/Quillmar Transport.lnk"}}));

TEST(Install, ThirdFileMissingOnTheServerEndsInThePromptWithItsName) {
  Device device;
  DownloadService service({"--missing", kClientLibraries[1]});
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  RunResult run = device.RunLoader({"-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, std::string("Unable to download file: \n") + kClientLibraries[1] +
                                    "\n" + Prompt(service.Address() + "/")))
      << run.out;
  const auto required = RequiredFiles();
  EXPECT_EQ(ReadFile(device.Install(required[0])), ReadFile(service.File(required[0])));
  EXPECT_EQ(ReadFile(device.Install(required[1])), ReadFile(service.File(required[1])));
  EXPECT_FALSE(Exists(device.Install(required[2])));
  EXPECT_TRUE(device.ProgramStarts().empty());
}

TEST(Install, ConnectionDroppedMidFileLeavesNoCacheCopy) {
  Device device;
  DownloadService service({"--drop-after", std::string(kClientLibraries[1]) + ":1000"});
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  RunResult run = device.RunLoader({"-DoNotRunNewLoader"});
  EXPECT_TRUE(Contains(run.out, std::string("Unable to download file: \n") + kClientLibraries[1]))
      << run.out;
  EXPECT_FALSE(Exists(device.Install(kClientLibraries[1])));
  EXPECT_TRUE(FilesIn(device.Path("Temp")).empty());
}

struct Unreachable {
  std::vector<std::string> flags;
  std::string status;
};

class UnreachableServer : public ::testing::TestWithParam<Unreachable> {};

TEST_P(UnreachableServer, EndsInThePromptWithTheAddressAsBuilt) {
  Device device;
  device.WriteSettings("Program Files/FerroVanMobile", "127.0.0.1:1");
  RunResult run = device.RunLoader(GetParam().flags);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, GetParam().status + Prompt("127.0.0.1:1/"))) << run.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    WithAndWithoutHandOver, UnreachableServer,
    ::testing::Values(
        Unreachable{{"-DoNotRunNewLoader"},
                    "Error connecting to server.\nPlease check the Url or network connectivity.\n"},
        Unreachable{{},
                    "Unable to download the latest loader.\nPlease check your connection "
                    "settings.\n"}));

TEST(Install, ForcedUpgradeFetchesEverythingAnewAndKeepsLoaderSettingsAndSubfolders) {
  Device device;
  DownloadService service;
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  for (const auto& name : RequiredFiles())
    WriteFile(device.Install(name), "old " + name);
  WriteFile(device.Install(kLoaderExe), "the installed loader");
  WriteFile(device.Install("Data/orders.db"), "kept");
  const std::string settings = ReadFile(device.Install("RFConfig.xml"));

  RunResult run = device.RunLoader({"-ForceToUpgrade", "-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, "Clearing folders\n")) << run.out;
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }
  EXPECT_EQ(ReadFile(device.Install(kLoaderExe)), "the installed loader");
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), settings);
  EXPECT_EQ(ReadFile(device.Install("Data/orders.db")), "kept");
  ASSERT_EQ(device.ProgramStarts().size(), 1u);
}

TEST(Install, RunningClientsAreStoppedBeforeTheFolderIsCleared) {
  Device device;
  DownloadService service;
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  // Clients of this device, wherever on it they run from.
  const fs::path elsewhere = device.Path("Program Files/Elsewhere");
  MakeFolders(elsewhere);
  fs::copy_file("/bin/sleep", elsewhere / kClientExe);
  fs::copy_file("/bin/sleep", elsewhere / "solvane.ferrovan.mobile.client.exe");
  BackgroundProcess first(elsewhere / kClientExe, {"120"});
  BackgroundProcess second(elsewhere / kClientExe, {"120"});
  BackgroundProcess otherCase(elsewhere / "solvane.ferrovan.mobile.client.exe", {"120"});

  RunResult run = device.RunLoader({"-ForceToUpgrade", "-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(first.Wait(), 128 + SIGKILL);
  EXPECT_EQ(second.Wait(), 128 + SIGKILL);
  EXPECT_EQ(otherCase.Wait(std::chrono::milliseconds(200)), -1) << "a differently cased name";
}

// A device of the given kind that knows the server and holds the client's files as served, with
// its package installer in place.
void InstallFrom(Device& device, const DownloadService& service, const char* platformType) {
  device.SetPlatformType(platformType);
  device.AddPackageInstaller();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  for (const auto& name : RequiredFiles()) {
    device.InstallCopy(service.File(name), name);
  }
}

struct PackageCase {
  const char* platformType;
  std::string package;
};

class MessagePackage : public ::testing::TestWithParam<PackageCase> {};

TEST_P(MessagePackage, IsFetchedInstalledAndDeletedBeforeTheClientStarts) {
  DownloadService service;
  WriteFile(service.File("NETCFv35.Messages.EN.cab"), "plain package");
  WriteFile(service.File("NETCFv35.Messages.EN.wm.cab"), "mobile package");
  service.Start();
  Device device;
  InstallFrom(device, service, GetParam().platformType);

  RunResult run = device.RunLoader({"-InstallCF35MessagesEN"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, "Downloading CF 3.5 EN Messages package\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, ".Net Compact Framework 3.5 Messages (EN) installation\n"));
  auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 2u) << run.out;
  EXPECT_EQ(starts[0], (std::vector<std::string>{
                           "WCELOAD.EXE", device.Root(), device.Root(), "/delete", "0", "/noui",
                           "Program Files\\FerroVanMobile\\" + GetParam().package}));
  EXPECT_EQ(starts[1].back(), "-NewLoader");
  EXPECT_FALSE(Exists(device.Install(GetParam().package)));
}

INSTANTIATE_TEST_SUITE_P(PlatformKinds, MessagePackage,
                         ::testing::Values(PackageCase{"PocketPC", "NETCFv35.Messages.EN.wm.cab"},
                                           PackageCase{"Smartphone", "NETCFv35.Messages.EN.wm.cab"},
                                           PackageCase{"CEPC", "NETCFv35.Messages.EN.cab"}));

TEST(Install, MessagePackageMissingOnTheServerLeavesTheClientUnstarted) {
  DownloadService service;
  service.Start();
  Device device;
  InstallFrom(device, service, "PocketPC");

  RunResult run = device.RunLoader({"-InstallCF35MessagesEN"});
  EXPECT_EQ(run.exitStatus, 0);
  // The status line is cleared: an empty line, then the prompt.
  EXPECT_TRUE(Contains(run.out, "\n\n" + Prompt(service.Address() + "/"))) << run.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
  EXPECT_FALSE(Exists(device.Install("NETCFv35.Messages.EN.wm.cab")));
}

TEST(Install, InstallerThatCannotStartIsShownAsFailureAndEndsTheLoader) {
  Device device;
  device.SetPlatformType("PocketPC");
  DownloadService service;
  WriteFile(service.File("NETCFv35.Messages.EN.wm.cab"), "mobile package");
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  RunResult run = device.RunLoader({"-InstallCF35MessagesEN"}, "never read\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.err,
                       "Loader cannot continue\nCould not execute file 'Program "
                       "Files\\FerroVanMobile\\NETCFv35.Messages.EN.wm.cab'.\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Server address")) << run.out;
  EXPECT_FALSE(Exists(device.Install("NETCFv35.Messages.EN.wm.cab")));
  EXPECT_TRUE(device.ProgramStarts().empty());
}

TEST(Install, AReaderThatGoesAwayMidInstallationLeavesItToFinish) {
  Device device;
  // The last library comes slowly, so both loaders still write long after the reader has gone.
  DownloadService service({"--slow", std::string(kClientLibraries[4]) + ":20000"});
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  ShellStartedLoader loader(device, {});
  for (int line = 0; line < 3; ++line)
    EXPECT_FALSE(loader.ReadLine().empty());
  loader.CloseOutput();

  EXPECT_EQ(loader.Wait(), 0);
  ASSERT_TRUE(WaitUntil([&] { return !device.ProgramStarts().empty(); }));
  EXPECT_EQ(device.ProgramStarts()[0].back(), "-NewLoader");
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }
}

TEST(Install, AFileSizeLimitFailsTheDownloadAndEndsInThePrompt) {
  Device device;
  DownloadService service;  // library files of 20000 bytes
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  ShellStartedLoader loader(device, {"-DoNotRunNewLoader"}, 10000);
  const std::string out = loader.ReadAll();
  EXPECT_EQ(loader.Wait(), 0) << out;
  EXPECT_TRUE(Contains(out,
                       "Error connecting to server.\nPlease check the Url or network "
                       "connectivity.\n" +
                           Prompt(service.Address() + "/")))
      << out;
  EXPECT_FALSE(Exists(device.Install(kClientLibraries[0])));
  EXPECT_TRUE(FilesIn(device.Path("Temp")).empty());
  EXPECT_TRUE(device.ProgramStarts().empty());
}

TEST(Install, ANewestLoaderThatCannotBeStartedIsShownAsFailure) {
  Device device;
  DownloadService service;
  WriteFile(service.File(kLoaderExe), "not a program\n");
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  RunResult run = device.RunLoader({}, "never read\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err,
            "Loader cannot continue\nCould not execute file 'Program "
            "Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.New.exe'.\n");
  EXPECT_FALSE(Contains(run.out, "Server address")) << run.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
}

TEST(Install, MemoryStaysFlatWhateverTheFileSize) {
  long peakKb[2] = {0, 0};
  const std::size_t sizes[2] = {std::size_t{10} << 20, std::size_t{1} << 30};
  for (int i = 0; i < 2; ++i) {
    Device device;
    DownloadService service({}, 1000);
    {
      std::ofstream big(service.File(kClientLibraries[4]), std::ios::binary | std::ios::trunc);
      std::string chunk(1 << 20, 'x');
      for (std::size_t written = 0; written < sizes[i]; written += chunk.size())
        big << chunk;
    }
    service.Start();
    device.WriteSettings("Program Files/FerroVanMobile", service.Address());
    RunResult run = device.RunLoader({"-DoNotRunNewLoader"});
    ASSERT_EQ(fs::file_size(device.Install(kClientLibraries[4])), sizes[i]) << run.out;
    peakKb[i] = run.maxResidentKb;
  }
  std::printf("peak resident size: %ld KiB for 10 MiB, %ld KiB for 1 GiB\n", peakKb[0], peakKb[1]);
  EXPECT_LT(std::labs(peakKb[1] - peakKb[0]), 4 * 1024);
}

}  // namespace
}  // namespace testing_support
