// The loader's roads end to end, written once for every host: the host's loader program
// (tests/e2e/loader_host.h) with the console front end on an emulated device in a temporary
// folder, against the project's download service on 127.0.0.1. The Linux end-to-end program and
// the Windows one under Wine both run this table.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/loader_host.h"
#include "tests/e2e/loopback_device.h"
#include "tests/e2e/nginx_site.h"
#include "tests/support/minisign_maker.h"
#include "tests/support/required_tools.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

const std::string kInstall = "Program Files/FerroVanMobile/";
const std::string kApplication = "Application/FerroVanMobile/";
const std::string kStartMenu = "Windows/Start Menu/Programs/";

class Road : public ::testing::Test {
 protected:
  void SetUp() override { FERROVAN_SKIP_WHEN_MISSING(Host().Missing()); }
  void TearDown() override { StopAndReapChildren(); }
  std::string At(const std::string& relative) const { return device.Path(relative); }

  Device device;
};

// One start recorded by the demo client: its program name, its working folder and the device
// root it was given (both the device root), then its arguments.
void ExpectStart(const std::vector<std::string>& start, const Device& device,
                 const std::string& program, const std::vector<std::string>& args) {
  ASSERT_GE(start.size(), 3u);
  EXPECT_EQ(start[0], program);
  EXPECT_TRUE(Host().SameFolder(start[1], device.Root())) << start[1];
  EXPECT_TRUE(Host().SameFolder(start[2], device.Root())) << start[2];
  EXPECT_EQ(std::vector<std::string>(start.begin() + 3, start.end()), args);
}

// A device that knows the server and holds the client's files as served.
void InstallFrom(Device& device, const DownloadService& service) {
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  for (const auto& name : RequiredFiles()) {
    device.InstallCopy(service.File(name), name);
  }
}

RunOptions WithoutDevice() {
  RunOptions options;
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  return options;
}

// The console protocol.

TEST_F(Road, AFreshDeviceAsksForTheServerAddress) {
  const RunResult run = device.RunLoader({});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Quillmar RF Loader\nEnter URL\n" + Prompt(""));
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(fs::is_directory(At(kInstall)));
  EXPECT_TRUE(fs::is_directory(At(kStartMenu)));
  EXPECT_FALSE(Exists(At("Application")));
}

TEST_F(Road, ATypedAddressIsSavedWhereTheDeviceKeepsItsSettings) {
  struct Case {
    bool applicationFolder;
    std::string line;
    std::string savedIn;
  } cases[] = {
      {true, "127.0.0.1:1\n", kApplication},
      {false, "127.0.0.1:1\r\n", kInstall},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.savedIn);
    fs::remove_all(device.Root());
    fs::create_directory(device.Root());
    if (c.applicationFolder) {
      fs::create_directories(At("Application"));
    }

    // Nothing listens on port 1: the fetch fails and the prompt comes back, then input ends.
    const RunResult run = device.RunLoader({"-DoNotRunNewLoader"}, c.line);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(ReadFile(At(c.savedIn + "RFConfig.xml")), SettingsFile("127.0.0.1:1"));
    EXPECT_TRUE(Contains(run.out, Prompt(""))) << run.out;
    EXPECT_TRUE(Contains(run.out, Prompt("127.0.0.1:1/"))) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(Road, WithTheClientInPlaceItIsStartedInTheDeviceRoot) {
  device.InstallClient();
  WriteFile(At(kInstall + "RFConfig.xml"), SettingsFile("  server.\n\texample \r\n"));

  const RunResult run = device.RunLoader({});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_FALSE(Contains(run.out, "Server address")) << run.out;
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u) << run.out << run.err;
  ExpectStart(starts[0], device, kClientExe, {"-NewLoader"});
}

TEST_F(Road, AClientThatIsNoProgramIsShownAsFailureAtEveryStart) {
  device.InstallClient();
  WriteFile(At(kInstall + kClientExe), "MZ but not really\n");
  WriteFile(At(kInstall + "RFConfig.xml"), SettingsFile("127.0.0.1:1"));
  for (int start = 0; start < 2; ++start) {
    const RunResult run = device.RunLoader({}, "never read\n");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err,
              "Loader cannot continue\nCould not execute file 'Program "
              "Files\\FerroVanMobile\\Solvane.FerroVan.Mobile.Client.exe'.\n");
    EXPECT_EQ(run.out, "Quillmar RF Loader\nChecking Required Files\n");
  }
  EXPECT_TRUE(Exists(At(kInstall + kClientExe)));
  EXPECT_FALSE(Exists(At("demo-client.log")));
}

TEST_F(Road, AMalformedSettingsFileGivesWayToTheInstallFolders) {
  WriteFile(At(kApplication + "RFConfig.xml"), "<Config><WebHostName>bad");
  WriteFile(At(kInstall + "RFConfig.xml"), SettingsFile("127.0.0.1:1"));

  const RunResult run = device.RunLoader({"-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, Prompt("127.0.0.1:1/"))) << run.out;
}

TEST_F(Road, ADeeplyNestedSettingsFileIsRefusedAndTheSavedOneStaysSmall) {
  // 20,000 nested elements in 140 KB: indented as saved, it would take 400 MB.
  std::string nested = "<Config>";
  for (int level = 0; level < 20000; ++level) {
    nested += "<a>";
  }
  for (int level = 0; level < 20000; ++level) {
    nested += "</a>";
  }
  nested += "</Config>";
  WriteFile(device.Install("RFConfig.xml"), nested);

  const RunResult run = device.RunLoader({"-DoNotRunNewLoader"}, "127.0.0.1:1\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, "Enter URL\n" + Prompt(""))) << run.out;
  ASSERT_LT(fs::file_size(device.Install("RFConfig.xml")), 1000u);
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), SettingsFile("127.0.0.1:1"));
}

TEST_F(Road, ABadHostOptionCreatesNothingAndGivesStatus2) {
  const std::string fresh = Host().ProgramPath(At("fresh"));
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--ui"},
      {"--ui", "tv"},
      {"--ui=tv"},
      {"--device-root"},
      {"--device-root", fresh, "--verbose"},
      // The top of the host's file system is no device of its own.
      {"--device-root", Host().ProgramPath("/")},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    const RunResult run = Host().Run(Host().LoaderProgram(), args, WithoutDevice());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_TRUE(Contains(run.err, "Usage: ferrovan-loader")) << run.err;
    EXPECT_FALSE(Exists(At("fresh")));
  }

  RunOptions options = WithoutDevice();
  options.env = {{"FERROVAN_UI", "tv"}};
  const RunResult run = Host().Run(Host().LoaderProgram(), {"--device-root", fresh}, options);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_FALSE(Exists(At("fresh")));
}

TEST_F(Road, HelpAndVersionAnswerAndEnd) {
  const RunResult help = Host().Run(Host().LoaderProgram(), {"--help"}, WithoutDevice());
  EXPECT_EQ(help.exitStatus, 0);
  for (const char* word : {"--device-root", "--ui", "-InstallCF35MessagesEN", "-ForceToUpgrade",
                           "-DoNotRunNewLoader", "FERROVAN_DEVICE_ROOT", "FERROVAN_UI"}) {
    EXPECT_TRUE(Contains(help.out, word)) << word;
  }
  const RunResult version = Host().Run(Host().LoaderProgram(), {"--version"}, WithoutDevice());
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("ferrovan-loader ", 0), 0u) << version.out;
  // A build without keys says so, for a publisher who must not sign it by mistake.
  EXPECT_TRUE(Contains(version.out, "release 1000000\nrelease keys: none")) << version.out;
}

TEST_F(Road, ASignedBuildNamesItsReleaseAndTheIdsOfItsKeys) {
  FERROVAN_SKIP_WHEN_MISSING(Host().SignedReleaseMissing());
  // The id as minisign writes it into the public key's comment: hexadecimal without leading
  // zeros, so 15 digits or fewer for one key in sixteen.
  std::string publicKey = Host().ReleaseSecretKey();
  publicKey.replace(publicKey.size() - 3, 3, "pub");
  const std::string comment = ReadFile(publicKey).substr(0, ReadFile(publicKey).find('\n'));
  const std::string id = comment.substr(comment.rfind(' ') + 1);
  ASSERT_TRUE(!id.empty() && id.size() <= 16 &&
              id.find_first_not_of("0123456789ABCDEF") == std::string::npos && id[0] != '0')
      << comment;
  for (const auto& [program, release] : {std::pair{Host().SignedLoaderProgram(), "1000000"},
                                         std::pair{Host().SignedNextLoaderProgram(), "1000001"}}) {
    const RunResult version = Host().Run(program, {"--version"}, WithoutDevice());
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_TRUE(Contains(version.out, std::string("release ") + release + "\nrelease keys: " + id))
        << version.out;
  }
}

// A first installation and the shortcuts of each kind of device.

struct ShortcutPlaces {
  const char* platformType;  // nullptr: the device cannot tell its kind
  std::vector<std::string> made;
};

class FirstInstallation : public Road, public ::testing::WithParamInterface<ShortcutPlaces> {};

TEST_P(FirstInstallation, TakesTwoLoadersAndEndsInTheClientThenEverydayStartsAreDirect) {
  if (GetParam().platformType != nullptr) {
    device.SetPlatformType(GetParam().platformType);
  }
  const std::string startMenu = At(kStartMenu);
  WriteFile(startMenu + "Quillmar Transport (old).lnk", "1#x");
  WriteFile(startMenu + "quillmar transport (older).lnk", "1#x");
  WriteFile(startMenu + "Other.lnk", "1#y");
  DownloadService service;
  service.Start();

  RunResult first = device.RunLoader({}, service.Address() + "\n");
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_TRUE(Contains(first.out, "Enter URL\n" + Prompt(""))) << first.out;
  EXPECT_TRUE(Contains(first.out, std::string(kLoaderExe) + "\nDownloaded ")) << first.out;
  for (const auto& name : RequiredFiles()) {
    EXPECT_TRUE(Contains(first.out, name + "\nDownloaded ")) << name << "\n" << first.out;
  }
  // The newest loader waits for the loader that started it without a word.
  EXPECT_FALSE(Contains(first.out, "Waiting for another loader")) << first.out;

  auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u) << first.out << first.err;
  ExpectStart(starts[0], device, kClientExe, {"-NewLoader"});

  std::vector<std::string> expected = RequiredFiles();
  expected.push_back("RFConfig.xml");
  // The newest loader's file stays: it was running when that loader cleared the folder.
  expected.push_back(kNewLoaderExe);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(At(kInstall)), expected);
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }
  EXPECT_EQ(ReadFile(device.Install(kNewLoaderExe)), ReadFile(service.File(kLoaderExe)));
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), SettingsFile(service.Address()));

  for (const auto& place : GetParam().made) {
    EXPECT_EQ(ReadFile(At(place)), kShortcutText) << place;
  }
  // Elsewhere than on a plain device, the older Start-menu shortcuts go, found as the file
  // system finds names: in other letter case too where it does not tell case apart.
  const bool plain = GetParam().made.size() == 2;
  EXPECT_EQ(Exists(startMenu + "Quillmar Transport.lnk"), !plain);
  EXPECT_EQ(Exists(startMenu + "Quillmar Transport (old).lnk"), plain);
  EXPECT_EQ(Exists(startMenu + "quillmar transport (older).lnk"),
            plain || Host().NamesTellCaseApart());
  EXPECT_TRUE(Exists(startMenu + "Other.lnk"));
  EXPECT_EQ(Exists(At("Windows/Desktop/Quillmar Transport.lnk")), plain);
  EXPECT_TRUE(CacheCopies(device).empty());
  // A loader without release keys asks for no signature.
  for (const std::string& path : service.Requests()) {
    EXPECT_FALSE(path.ends_with(".minisig")) << path;
  }

  RunResult second = device.RunLoader({});
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_FALSE(Contains(second.out, "Downloaded")) << second.out;
  starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 2u) << second.out << second.err;
  ExpectStart(starts[1], device, kClientExe, {"-NewLoader"});

  // A shortcut lost once the files were in place (power gone before its rename) comes back at
  // the next start; the Start menu's clean-up stays the installation's.
  fs::remove(At(GetParam().made.front()));
  WriteFile(startMenu + "Quillmar Transport (newer).lnk", "1#z");
  RunResult third = device.RunLoader({});
  EXPECT_EQ(third.exitStatus, 0);
  EXPECT_FALSE(Contains(third.out, "Downloaded")) << third.out;
  for (const auto& place : GetParam().made) {
    EXPECT_EQ(ReadFile(At(place)), kShortcutText) << place;
  }
  EXPECT_TRUE(Exists(startMenu + "Quillmar Transport (newer).lnk"));
  starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 3u) << third.out << third.err;
  ExpectStart(starts[2], device, kClientExe, {"-NewLoader"});
}

INSTANTIATE_TEST_SUITE_P(
    PlatformKinds, FirstInstallation,
    ::testing::Values(ShortcutPlaces{"PocketPC", {kStartMenu + "Quillmar Transport.lnk"}},
                      ShortcutPlaces{"Smartphone", {kStartMenu + "Quillmar Transport.lnk"}},
                      ShortcutPlaces{nullptr, {kStartMenu + "Quillmar Transport.lnk"}},
                      ShortcutPlaces{"CEPC",
                                     {"Windows/Programs/Quillmar Transport.lnk",
                                      "Windows/Desktop/Quillmar Transport.lnk"}}));

// Signed releases: a loader built with the publisher's key (the tests' own, made by the build),
// against a release whose manifest is written and signed through the project's script, or, for
// what the script refuses to make, by hand and with minisign itself.

constexpr const char* kManifest = "FerroVan.Mobile.Release";
// The signed loader's own release number: the project's version, 1.0.0.
constexpr int kOwnRelease = 1000000;

void SignRelease(const std::string& folder, const std::string& key, int release,
                 const std::string& expires = "") {
  std::vector<std::string> args = {"-s", key, "--release", std::to_string(release)};
  if (!expires.empty()) {
    args.insert(args.end(), {"--expires", expires});
  }
  args.push_back(folder);
  const RunResult run = Run(FERROVAN_SOURCE_DIR "/scripts/sign-release.sh", args, RunOptions{});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
}

// Signs the manifest in folder with minisign itself, as the script would.
void SignManifest(const std::string& folder, const std::string& key) {
  const RunResult run =
      Run("/usr/bin/minisign",
          {"-S", "-q", "-s", key, "-t", std::string("timestamp:0\tfile:") + kManifest + "\thashed",
           "-m", folder + "/" + kManifest});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
}

// A manifest line for a file of folder, as the script writes it.
std::string LineFor(const std::string& folder, const std::string& name) {
  return testing_support::ManifestLine(name, ReadFile(folder + "/" + name));
}

// A release key that no loader trusts, made now.
std::string ForeignKey(const TempDir& folder) {
  const RunResult run = Run("/usr/bin/minisign", {"-G", "-W", "-p", folder / "foreign.pub", "-s",
                                                  folder / "foreign.key"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  return folder / "foreign.key";
}

void FlipAByte(const std::string& path) {
  std::string content = ReadFile(path);
  ASSERT_FALSE(content.empty()) << path;
  content[content.size() / 2] = static_cast<char>(content[content.size() / 2] ^ 0x01);
  WriteFile(path, content);
}

class SignedRoad : public Road {
 protected:
  void SetUp() override {
    FERROVAN_SKIP_WHEN_MISSING(Host().SignedReleaseMissing());
    device.UseLoader(Host().SignedLoaderProgram());
  }
  // A release of the signed loader, the client and its libraries and a message package, signed.
  std::unique_ptr<DownloadService> SignedService(const std::vector<std::string>& switches = {}) {
    auto service = std::make_unique<DownloadService>(switches, 20000, Host().SignedLoaderProgram());
    WriteFile(service->File("NETCFv35.Messages.EN.wm.cab"), "mobile package");
    SignRelease(service->Folder(), Host().ReleaseSecretKey(), kOwnRelease);
    return service;
  }
};

struct SignedInstallation {
  const char* name;
  bool signedRelease;
  bool throughNginx;
  // The server breaks each connection for the GUI library every 6000 of its 20000 bytes, as a
  // hand-held's link breaks when it roams.
  bool breaking = false;
};

class FirstSignedInstallation : public SignedRoad,
                                public ::testing::WithParamInterface<SignedInstallation> {};

TEST_P(FirstSignedInstallation, EndsInTheClient) {
  const SignedInstallation& c = GetParam();
  if (c.throughNginx) {
    FERROVAN_SKIP_WHEN_MISSING(MissingNginx());
  }
  if (!c.signedRelease) {
    device.UseLoader(Host().LoaderProgram());
  }
  const std::vector<std::string> switches =
      c.breaking
          ? std::vector<std::string>{"--break-every", std::string(kClientLibraries[4]) + ":6000"}
          : std::vector<std::string>{};
  auto service =
      c.signedRelease ? SignedService(switches) : std::make_unique<DownloadService>(switches);
  std::unique_ptr<NginxSite> nginx;
  std::string address;
  if (c.throughNginx) {
    nginx = std::make_unique<NginxSite>(service->Folder());
    ASSERT_TRUE(nginx->Ready()) << nginx->Log();
    address = "http://127.0.0.1:" + std::to_string(nginx->Port()) + "/FerroVanService";
  } else {
    service->Start();
    address = service->Address();
  }
  device.SetPlatformType("PocketPC");

  const RunResult run = device.RunLoader({}, address + "\n");
  EXPECT_EQ(run.exitStatus, 0);
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u) << run.out << run.err;
  ExpectStart(starts[0], device, kClientExe, {"-NewLoader"});
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service->File(name))) << name;
  }
  EXPECT_EQ(ReadFile(device.Install(kNewLoaderExe)), ReadFile(service->File(kLoaderExe)));
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), SettingsFile(address));
  if (!c.throughNginx) {
    // Each loader's run asks for the manifest and its signature first, then for its files and
    // nothing else: two requests more than an unsigned run makes.
    std::vector<std::string> expected;
    const auto aRun = [&](const std::vector<std::string>& files) {
      if (c.signedRelease) {
        expected.insert(expected.end(), {kManifest, std::string(kManifest) + ".minisig"});
      }
      expected.insert(expected.end(), files.begin(), files.end());
    };
    aRun({kLoaderExe});
    std::vector<std::string> files = RequiredFiles();
    if (c.breaking) {
      // Resumed three times, without an Ok.
      files.insert(std::find(files.begin(), files.end(), kClientLibraries[4]), 3,
                   kClientLibraries[4]);
    }
    aRun(files);
    std::vector<std::string> asked;
    for (const std::string& path : service->Requests()) {
      asked.push_back(path.substr(path.rfind('/') + 1));
    }
    EXPECT_EQ(asked, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Releases, FirstSignedInstallation,
    ::testing::Values(SignedInstallation{"SignedThroughTheDownloadService", true, false},
                      SignedInstallation{"SignedThroughNginx", true, true},
                      SignedInstallation{"UnsignedThroughTheDownloadService", false, false},
                      SignedInstallation{"UnsignedThroughNginx", false, true},
                      SignedInstallation{"SignedOnABreakingLink", true, false, true},
                      SignedInstallation{"UnsignedOnABreakingLink", false, false, true}),
    [](const ::testing::TestParamInfo<SignedInstallation>& param) {
      return std::string(param.param.name);
    });

TEST_F(SignedRoad, ThePublishersScriptRefusesAReleaseDevicesWouldRefuseAndChecksOne) {
  const std::string script = FERROVAN_SOURCE_DIR "/scripts/sign-release.sh";
  const std::string key = Host().ReleaseSecretKey();
  std::string publicKey = key;
  publicKey.replace(publicKey.size() - 3, 3, "pub");
  struct Case {
    const char* what;
    std::string loader;
    int release;
    const char* says;
  } cases[] = {
      {"a loader without the signing key", Host().LoaderProgram(), kOwnRelease,
       "does not carry the signing key"},
      {"a loader above the release", Host().SignedNextLoaderProgram(), kOwnRelease,
       "above --release"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DownloadService service({}, 2000, c.loader);
    const RunResult run = testing_support::Run(
        script, {"-s", key, "--release", std::to_string(c.release), service.Folder()},
        RunOptions{});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(Contains(run.err, c.says)) << run.err;
    EXPECT_FALSE(Exists(service.File(kManifest)));
  }

  auto service = SignedService();
  const RunResult good =
      testing_support::Run(script, {"--check", "-p", publicKey, service->Folder()}, RunOptions{});
  EXPECT_EQ(good.exitStatus, 0) << good.err;
  FlipAByte(service->File(kClientLibraries[1]));
  const RunResult bad =
      testing_support::Run(script, {"--check", "-p", publicKey, service->Folder()}, RunOptions{});
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_TRUE(Contains(bad.err, kClientLibraries[1] + std::string(": differs"))) << bad.err;
}

struct Tampering {
  const char* name;
  // Spoils the signed release in folder (keys: a scratch folder for a key of its own).
  std::function<void(const std::string& folder, const TempDir& keys)> spoil;
  std::vector<std::string> flags;
  // The text before the prompt, with the console's line breaks.
  std::string text;
  // The file that ends up nowhere on the device; empty when none was fetched.
  std::string file;
  // The device runs the signed loader one release above the one served.
  bool newerLoader = false;
};

class TamperedRelease : public SignedRoad, public ::testing::WithParamInterface<Tampering> {};

TEST_P(TamperedRelease, EndsInThePromptWithNothingStartedOrInstalled) {
  const Tampering& c = GetParam();
  if (c.newerLoader) {
    device.UseLoader(Host().SignedNextLoaderProgram());
  }
  auto service = SignedService();
  TempDir keys;
  c.spoil(service->Folder(), keys);
  if (HasFatalFailure()) {
    return;
  }
  service->Start();
  device.SetPlatformType("PocketPC");
  device.WriteSettings("Program Files/FerroVanMobile", service->Address());
  const bool package = c.file == "NETCFv35.Messages.EN.wm.cab";
  if (package) {
    // The client's files are in place: only the package is fetched.
    for (const auto& name : RequiredFiles()) {
      device.InstallCopy(service->File(name), name);
    }
    device.AddPackageInstaller();
  }

  const RunResult run = device.RunLoader(c.flags);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, c.text + "\n" + Prompt(service->Address() + "/")))
      << run.out << run.err;
  EXPECT_TRUE(device.ProgramStarts().empty()) << "a program was started";
  if (!c.file.empty()) {
    EXPECT_FALSE(Exists(device.Install(c.file)));
  }
  EXPECT_FALSE(Exists(device.Install(kNewLoaderExe)));
  if (!package) {
    // Files the release did not vouch for never stay in the install folder.
    for (const auto& name : RequiredFiles()) {
      if (Exists(device.Install(name))) {
        EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service->File(name))) << name;
      }
    }
  }
  EXPECT_TRUE(CacheCopies(device).empty());
}

const std::string kUnverified = "Unable to verify file: \n";
const std::string kManifestUnverified = "Unable to verify the release manifest.";

INSTANTIATE_TEST_SUITE_P(
    Spoiled, TamperedRelease,
    ::testing::Values(Tampering{"ANewestLoaderBuiltWithoutTheKeys",
                                [](const std::string& folder, const TempDir&) {
                                  // A slip of the publisher: a keyless build, listed and validly
                                  // signed.
                                  fs::copy_file(Host().LoaderProgram(), folder + "/" + kLoaderExe,
                                                fs::copy_options::overwrite_existing);
                                  std::string manifest = "ferrovan-release 1\nrelease " +
                                                         std::to_string(kOwnRelease) + "\n" +
                                                         LineFor(folder, kLoaderExe) + "\n";
                                  for (const auto& name : RequiredFiles()) {
                                    manifest += LineFor(folder, name) + "\n";
                                  }
                                  WriteFile(folder + "/" + kManifest, manifest);
                                  SignManifest(folder, Host().ReleaseSecretKey());
                                },
                                {},
                                "The latest loader does not carry this loader's keys.",
                                kLoaderExe},
                      Tampering{"ALibraryOfAnOlderReleaseInANewerManifest",
                                [](const std::string& folder, const TempDir&) {
                                  const std::string library = folder + "/" + kClientLibraries[0];
                                  const std::string older = ReadFile(library);
                                  WriteFile(library, older + " of the newer release");
                                  SignRelease(folder, Host().ReleaseSecretKey(), kOwnRelease + 1);
                                  WriteFile(library, older);
                                },
                                {"-DoNotRunNewLoader"},
                                kUnverified + kClientLibraries[0],
                                kClientLibraries[0]},
                      Tampering{"AWholeReleaseOlderThanTheRunningLoader",
                                [](const std::string&, const TempDir&) {},
                                {},
                                "The release on the server is older than this loader.",
                                "",
                                true},
                      Tampering{
                          "AnExpiredManifest",
                          [](const std::string& folder, const TempDir&) {
                            SignRelease(folder, Host().ReleaseSecretKey(), kOwnRelease,
                                        "2020-01-01T00:00:00Z");
                          },
                          {"-DoNotRunNewLoader"},
                          "The release on the server has expired.\nPlease check the device's date.",
                          ""},
                      Tampering{"AFileOneByteLongerThanItsLine",
                                [](const std::string& folder, const TempDir&) {
                                  const std::string path = folder + "/" + kClientLibraries[2];
                                  WriteFile(path, ReadFile(path) + "!");
                                },
                                {"-DoNotRunNewLoader"},
                                kUnverified + kClientLibraries[2],
                                kClientLibraries[2]},
                      Tampering{"AFileDifferentFromItsLine",
                                [](const std::string& folder, const TempDir&) {
                                  FlipAByte(folder + "/" + kClientLibraries[3]);
                                },
                                {"-DoNotRunNewLoader"},
                                kUnverified + kClientLibraries[3],
                                kClientLibraries[3]},
                      Tampering{"TheNewestLoaderChanged",
                                [](const std::string& folder, const TempDir&) {
                                  FlipAByte(folder + "/" + kLoaderExe);
                                },
                                {},
                                kUnverified + kLoaderExe,
                                kLoaderExe},
                      Tampering{"AManifestSignedByAForeignKey",
                                [](const std::string& folder, const TempDir& keys) {
                                  SignManifest(folder, ForeignKey(keys));
                                },
                                {"-DoNotRunNewLoader"},
                                kManifestUnverified,
                                ""},
                      Tampering{"ACutSignature",
                                [](const std::string& folder, const TempDir&) {
                                  const std::string path = folder + "/" + kManifest + ".minisig";
                                  const std::string text = ReadFile(path);
                                  WriteFile(path, text.substr(0, text.size() / 2));
                                },
                                {"-DoNotRunNewLoader"},
                                kManifestUnverified,
                                ""},
                      Tampering{"AnOversizedSignature",
                                [](const std::string& folder, const TempDir&) {
                                  const std::string path = folder + "/" + kManifest + ".minisig";
                                  WriteFile(path, ReadFile(path) + std::string(5000, '\n'));
                                },
                                {},
                                kManifestUnverified,
                                ""},
                      Tampering{"ABadSignature",
                                [](const std::string& folder, const TempDir&) {
                                  const std::string path = folder + "/" + kManifest + ".minisig";
                                  std::string text = ReadFile(path);
                                  const std::size_t second = text.find('\n') + 5;
                                  text[second] = text[second] == 'A' ? 'B' : 'A';
                                  WriteFile(path, text);
                                },
                                {"-DoNotRunNewLoader"},
                                kManifestUnverified,
                                ""},
                      Tampering{"AManifestListingAFileTwice",
                                [](const std::string& folder, const TempDir&) {
                                  const std::string path = folder + "/" + kManifest;
                                  WriteFile(path,
                                            ReadFile(path) + LineFor(folder, kClientExe) + "\n");
                                  SignManifest(folder, Host().ReleaseSecretKey());
                                },
                                {"-DoNotRunNewLoader"},
                                kManifestUnverified,
                                ""},
                      Tampering{"AManifestWithAMalformedLine",
                                [](const std::string& folder, const TempDir&) {
                                  const std::string path = folder + "/" + kManifest;
                                  std::string text = ReadFile(path);
                                  text.insert(text.find("\nfile ") + 5, " ");  // two blanks
                                  WriteFile(path, text);
                                  SignManifest(folder, Host().ReleaseSecretKey());
                                },
                                {"-DoNotRunNewLoader"},
                                kManifestUnverified,
                                ""},
                      Tampering{"TheMessagePackageChanged",
                                [](const std::string& folder, const TempDir&) {
                                  FlipAByte(folder + "/NETCFv35.Messages.EN.wm.cab");
                                },
                                {"-InstallCF35MessagesEN"},
                                kUnverified + "NETCFv35.Messages.EN.wm.cab",
                                "NETCFv35.Messages.EN.wm.cab"}),
    [](const ::testing::TestParamInfo<Tampering>& param) { return std::string(param.param.name); });

// Clearing the install folder and stopping the client.

TEST_F(Road, AForcedUpgradeFetchesEverythingAnewAndKeepsLoaderSettingsAndSubfolders) {
  DownloadService service;
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  for (const auto& name : RequiredFiles()) {
    WriteFile(device.Install(name), "old " + name);
  }
  WriteFile(device.Install(kLoaderExe), "the installed loader");
  WriteFile(device.Install("Data/orders.db"), "kept");
  const std::string settings = ReadFile(device.Install("RFConfig.xml"));

  const RunResult run = device.RunLoader({"-ForceToUpgrade", "-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, "Clearing folders\n")) << run.out;
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }
  EXPECT_EQ(ReadFile(device.Install(kLoaderExe)), "the installed loader");
  EXPECT_EQ(ReadFile(device.Install("RFConfig.xml")), settings);
  EXPECT_EQ(ReadFile(device.Install("Data/orders.db")), "kept");
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 1u) << run.out << run.err;
  ExpectStart(starts[0], device, kClientExe, {"-NewLoader"});
}

// A device that fetched the release keeps it: the next forced upgrade asks the server whether
// each file changed and moves only what did; a file damaged on the device is fetched whole. With
// a signed release, a kept file that its line in the manifest proves is not asked for at all.
class AForcedUpgrade : public SignedRoad, public ::testing::WithParamInterface<bool> {};

TEST_P(AForcedUpgrade, MovesOnlyWhatChangedOrWasDamaged) {
  const bool signedRelease = GetParam();
  TempDir logs;
  const std::vector<std::string> switches = {"--answers", logs / "answers"};
  std::unique_ptr<DownloadService> service;
  if (signedRelease) {
    service = SignedService(switches);
  } else {
    device.UseLoader(Host().LoaderProgram());
    service = std::make_unique<DownloadService>(switches);
  }
  service->Start();
  device.WriteSettings("Program Files/FerroVanMobile", service->Address());
  // The answers for the release's files, the manifest's left out.
  const auto answersSince = [&](std::size_t skip) {
    std::vector<std::string> lines;
    std::istringstream text(Exists(logs / "answers") ? ReadFile(logs / "answers") : "");
    for (std::string line; std::getline(text, line);) {
      const std::string name = line.substr(line.rfind('/') + 1);
      if (!name.starts_with(kManifest)) {
        lines.push_back(line.substr(0, 3) + " " + name);
      }
    }
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(skip), lines.end());
  };
  const auto upgrade = [&] {
    const RunResult run = device.RunLoader({"-ForceToUpgrade", "-DoNotRunNewLoader"});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    for (const auto& name : RequiredFiles()) {
      EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service->File(name))) << name;
    }
  };
  std::vector<std::string> everyFile;
  for (const auto& name : RequiredFiles()) {
    everyFile.push_back("200 " + name);
  }

  upgrade();
  std::size_t seen = answersSince(0).size();
  EXPECT_EQ(answersSince(0), everyFile);

  std::vector<std::string> nothingChanged;
  if (!signedRelease) {
    for (const auto& name : RequiredFiles()) {
      nothingChanged.push_back("304 " + name);
    }
  }
  upgrade();
  EXPECT_EQ(answersSince(seen), nothingChanged);
  seen += nothingChanged.size();

  // One library changed on the server, another damaged on the device.
  WriteFile(service->File(kClientLibraries[4]), "a new GUI library");
  if (signedRelease) {
    SignRelease(service->Folder(), Host().ReleaseSecretKey(), kOwnRelease);
  }
  WriteFile(device.Install(kClientLibraries[1]), "damaged");
  std::vector<std::string> twoMoved;
  for (const auto& name : RequiredFiles()) {
    if (name == kClientLibraries[4] || name == kClientLibraries[1]) {
      twoMoved.push_back("200 " + name);
    } else if (!signedRelease) {
      twoMoved.push_back("304 " + name);
    }
  }
  upgrade();
  EXPECT_EQ(answersSince(seen), twoMoved);
}

INSTANTIATE_TEST_SUITE_P(Releases, AForcedUpgrade, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Signed" : "Unsigned";
                         });

// A link that breaks the GUI library (20000 bytes) after every 2000 bytes, nine answers in a row,
// breaks it more often than one download resumes: the installation ends in the prompt, and what
// arrived is kept. The next start goes on from there, with one request for the rest, unless the
// file changed meanwhile (then it is fetched whole) or the server ignores ranges (it sends it
// whole).
struct BrokenTry {
  const char* name;
  std::vector<std::string> switches;
  int breaks;  // the answers that break, all in the first run
  bool changes;
  const char* lastAnswer;  // for the GUI library, at the next start
};

class ABrokenInstallation : public Road, public ::testing::WithParamInterface<BrokenTry> {};

TEST_P(ABrokenInstallation, GoesOnFromWhatArrivedAtTheNextStart) {
  const BrokenTry& c = GetParam();
  TempDir logs;
  std::vector<std::string> switches = {
      "--answers",     logs / "answers",
      "--break-every", std::string(kClientLibraries[4]) + ":2000",
      "--break-count", std::string(kClientLibraries[4]) + ":" + std::to_string(c.breaks)};
  switches.insert(switches.end(), c.switches.begin(), c.switches.end());
  DownloadService service(switches);
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  const auto answersFor = [&](const std::string& name) {
    std::vector<std::string> statuses;
    std::istringstream text(Exists(logs / "answers") ? ReadFile(logs / "answers") : "");
    for (std::string line; std::getline(text, line);) {
      if (line.ends_with("/" + name)) {
        statuses.push_back(line.substr(0, 3));
      }
    }
    return statuses;
  };

  const RunResult first = device.RunLoader({"-DoNotRunNewLoader"});
  EXPECT_TRUE(
      Contains(first.out, std::string("Unable to download file: \n") + kClientLibraries[4] + "\n"))
      << first.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
  EXPECT_EQ(answersFor(kClientLibraries[4]).size(), static_cast<std::size_t>(c.breaks));
  if (c.changes) {
    WriteFile(service.File(kClientLibraries[4]), std::string(30000, 'n'));
  }

  const RunResult next = device.RunLoader({"-DoNotRunNewLoader"});
  EXPECT_EQ(next.exitStatus, 0);
  ASSERT_EQ(device.ProgramStarts().size(), 1u) << next.out << next.err;
  for (const auto& name : RequiredFiles()) {
    EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
  }
  const std::vector<std::string> answers = answersFor(kClientLibraries[4]);
  ASSERT_EQ(answers.size(), static_cast<std::size_t>(c.breaks) + 1);
  EXPECT_EQ(answers.back(), c.lastAnswer);
  EXPECT_TRUE(CacheCopies(device).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Links, ABrokenInstallation,
    ::testing::Values(BrokenTry{"ResumedWhereItStopped", {}, 9, false, "206"},
                      BrokenTry{"FetchedWholeWhenTheFileChanged", {}, 9, true, "200"},
                      // Sent whole each time, it breaks at the same byte twice: the run gives up.
                      BrokenTry{"FetchedWholeFromAServerThatIgnoresRanges",
                                {"--ignore-ranges", kClientLibraries[4]},
                                2,
                                false,
                                "200"}),
    [](const ::testing::TestParamInfo<BrokenTry>& param) { return std::string(param.param.name); });

TEST_F(Road, RunningClientsAreStoppedBeforeTheFolderIsCleared) {
  DownloadService service;
  service.Start();
  InstallFrom(device, service);
  // Clients of this device in use, wherever on it they run from: they would stay two minutes.
  // A program whose name differs only in letter case is no client.
  const std::string elsewhere = At("Program Files/Elsewhere/");
  const std::string otherCase = At("Program Files/Other case/");
  MakeFolders(elsewhere);
  MakeFolders(otherCase);
  fs::copy_file(Host().ClientProgram(), elsewhere + kClientExe);
  fs::copy_file(Host().ClientProgram(), otherCase + "solvane.ferrovan.mobile.client.exe");
  RunOptions options;
  options.env = {{"FERROVAN_DEMO_CLIENT_STAY", "120"},
                 {"FERROVAN_DEVICE_ROOT", Host().ProgramPath(device.Root())}};
  options.workingFolder = device.Root();
  auto first = Host().Start(elsewhere + kClientExe, {}, options);
  auto second = Host().Start(elsewhere + kClientExe, {}, options);
  auto differentlyCased =
      Host().Start(otherCase + "solvane.ferrovan.mobile.client.exe", {}, options);
  ASSERT_TRUE(
      WaitUntil([&] { return device.ProgramStarts().size() == 3; }, std::chrono::seconds(60)));

  const RunResult run = device.RunLoader({"-ForceToUpgrade", "-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, "Clearing folders\n")) << run.out;
  // Long before the end of their stay.
  EXPECT_EQ(first->Wait(std::chrono::seconds(30)), Host().StoppedProgramStatus());
  EXPECT_EQ(second->Wait(std::chrono::seconds(30)), Host().StoppedProgramStatus());
  EXPECT_EQ(differentlyCased->Wait(std::chrono::milliseconds(200)), -1)
      << "a program of another name was stopped";
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 4u) << run.out << run.err;
  ExpectStart(starts[3], device, kClientExe, {"-NewLoader"});
}

// Several devices on one host: each has a process list of its own.
TEST_F(Road, AForcedUpgradeStopsOnlyTheClientsOfItsOwnDevice) {
  Device other;
  DownloadService service;
  service.Start();
  InstallFrom(device, service);
  InstallFrom(other, service);
  const std::string otherClient = ReadFile(other.Install(kClientExe));
  std::vector<std::unique_ptr<BackgroundProcess>> clients;
  for (const Device* on : {&device, &other}) {
    RunOptions options;
    options.env = {{"FERROVAN_DEMO_CLIENT_STAY", "120"},
                   {"FERROVAN_DEVICE_ROOT", Host().ProgramPath(on->Root())}};
    options.workingFolder = on->Root();
    clients.push_back(Host().Start(on->Install(kClientExe), {}, options));
  }
  ASSERT_TRUE(WaitUntil(
      [&] { return device.ProgramStarts().size() == 1 && other.ProgramStarts().size() == 1; },
      std::chrono::seconds(60)));

  const RunResult run = device.RunLoader({"-ForceToUpgrade", "-DoNotRunNewLoader"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Clearing folders\n")) << run.out;
  EXPECT_EQ(clients[0]->Wait(std::chrono::seconds(30)), Host().StoppedProgramStatus());
  EXPECT_EQ(clients[1]->Wait(std::chrono::milliseconds(200)), -1) << "the other device's client";
  EXPECT_EQ(ReadFile(other.Install(kClientExe)), otherClient) << "the other device was touched";
  EXPECT_EQ(device.ProgramStarts().size(), 2u) << "the new client started";
}

// Two loaders on one device: the second, started while the first installation still fetches the
// client's files, waits, and no client ever starts on a missing or partly written file.

// "SIZE:HASH" as the demo client describes a file (64-bit FNV-1a, in hex).
std::string Describe(const std::string& content) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char byte : content) {
    hash = (hash ^ byte) * 0x100000001b3u;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%zu:%016llx", content.size(),
                static_cast<unsigned long long>(hash));
  return text;
}

// What the install folder held at each start of the client: file name to "SIZE:HASH".
std::vector<std::map<std::string, std::string>> InventoriesAtStart(const Device& device) {
  std::vector<std::map<std::string, std::string>> starts;
  std::istringstream log(ReadFile(device.Path("demo-client.inventory")));
  for (std::string line; std::getline(log, line);) {
    std::map<std::string, std::string>& files = starts.emplace_back();
    std::istringstream entries(line);
    for (std::string entry; std::getline(entries, entry, '\t');) {
      const std::size_t colon = entry.find(':');
      files[entry.substr(0, colon)] = colon == std::string::npos ? "" : entry.substr(colon + 1);
    }
  }
  return starts;
}

struct SecondLoader {
  const char* name;
  std::vector<std::string> flags;
  // It stops a client that is still running, perhaps before the client has recorded its start.
  bool stopsClients;
};

class TwoLoaders : public Road, public ::testing::WithParamInterface<SecondLoader> {};

TEST_P(TwoLoaders, NeverStartTheClientOnAnIncompleteInstallFolder) {
  // The client's first two files take about a second each, the others come at once. The
  // second loader starts once the first file is in place: a loader that cleared the folder
  // then would leave the newest loader to start the client without that file.
  const auto clientBytes = fs::file_size(Host().ClientProgram());
  DownloadService service({"--slow", std::string(kClientLibraries[0]) + ":20000", "--slow",
                           std::string(kClientExe) + ":" + std::to_string(clientBytes)});
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  const std::vector<std::pair<std::string, std::string>> env = {
      {"FERROVAN_DEMO_CLIENT_INVENTORY", "1"}};

  RunResult first, second;
  std::thread firstLoader([&] { first = device.RunLoader({}, "", env); });
  // The newest loader has fetched the client's first file and is fetching the others.
  const bool installing = WaitUntil([&] { return Exists(device.Install(kClientLibraries[0])); },
                                    std::chrono::seconds(60));
  if (installing) {
    second = device.RunLoader(GetParam().flags, "", env);
  }
  firstLoader.join();
  ASSERT_TRUE(installing) << first.out;

  EXPECT_EQ(first.exitStatus, 0);
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_TRUE(Contains(second.out, "Quillmar RF Loader\nWaiting for another loader to finish\n"))
      << second.out;
  EXPECT_FALSE(Contains(first.out + second.out, "Server address")) << first.out << second.out;
  EXPECT_EQ(first.err + second.err, "");

  std::map<std::string, std::string> whole;
  for (const std::string& name : RequiredFiles()) {
    whole[name] = Describe(ReadFile(service.File(name)));
  }
  const auto starts = device.ProgramStarts();
  const auto inventories = InventoriesAtStart(device);
  EXPECT_LE(starts.size(), 2u);
  EXPECT_GE(starts.size(), GetParam().stopsClients ? 1u : 2u);
  ASSERT_EQ(inventories.size(), starts.size());
  for (std::size_t start = 0; start < starts.size(); ++start) {
    EXPECT_EQ(starts[start].front(), kClientExe);
    for (const auto& [name, description] : whole) {
      const auto found = inventories[start].find(name);
      EXPECT_TRUE(found != inventories[start].end() && found->second == description)
          << "start " << start << ": " << name;
    }
  }
  for (const auto& [name, description] : whole) {
    EXPECT_EQ(Describe(ReadFile(device.Install(name))), description) << name;
  }
  EXPECT_TRUE(CacheCopies(device).empty());
}

INSTANTIATE_TEST_SUITE_P(
    SecondLoaders, TwoLoaders,
    ::testing::Values(SecondLoader{"plain", {}, false},
                      SecondLoader{"DoNotRunNewLoader", {"-DoNotRunNewLoader"}, false},
                      SecondLoader{"ForceToUpgrade", {"-ForceToUpgrade"}, true}),
    [](const ::testing::TestParamInfo<SecondLoader>& loader) {
      return std::string(loader.param.name);
    });

// The message package.

struct PackageCase {
  const char* platformType;
  std::string package;
};

class MessagePackage : public Road, public ::testing::WithParamInterface<PackageCase> {};

TEST_P(MessagePackage, IsFetchedInstalledAndDeletedBeforeTheClientStarts) {
  DownloadService service;
  WriteFile(service.File("NETCFv35.Messages.EN.cab"), "plain package");
  WriteFile(service.File("NETCFv35.Messages.EN.wm.cab"), "mobile package");
  service.Start();
  device.SetPlatformType(GetParam().platformType);
  device.AddPackageInstaller();
  InstallFrom(device, service);

  const RunResult run = device.RunLoader({"-InstallCF35MessagesEN"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, "Downloading CF 3.5 EN Messages package\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, ".Net Compact Framework 3.5 Messages (EN) installation\n"));
  const auto starts = device.ProgramStarts();
  ASSERT_EQ(starts.size(), 2u) << run.out << run.err;
  ExpectStart(starts[0], device, "WCELOAD.EXE",
              {"/delete", "0", "/noui", "Program Files\\FerroVanMobile\\" + GetParam().package});
  ExpectStart(starts[1], device, kClientExe, {"-NewLoader"});
  EXPECT_FALSE(Exists(device.Install(GetParam().package)));
  EXPECT_TRUE(CacheCopies(device).empty());
}

INSTANTIATE_TEST_SUITE_P(PlatformKinds, MessagePackage,
                         ::testing::Values(PackageCase{"PocketPC", "NETCFv35.Messages.EN.wm.cab"},
                                           PackageCase{"Smartphone", "NETCFv35.Messages.EN.wm.cab"},
                                           PackageCase{"CEPC", "NETCFv35.Messages.EN.cab"}));

TEST_F(Road, AMessagePackageMissingOnTheServerLeavesTheClientUnstarted) {
  DownloadService service;
  service.Start();
  device.SetPlatformType("PocketPC");
  device.AddPackageInstaller();
  InstallFrom(device, service);

  const RunResult run = device.RunLoader({"-InstallCF35MessagesEN"});
  EXPECT_EQ(run.exitStatus, 0);
  // The status line is cleared: an empty line, then the prompt.
  EXPECT_TRUE(Contains(run.out, "\n\n" + Prompt(service.Address() + "/"))) << run.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
  EXPECT_FALSE(Exists(device.Install("NETCFv35.Messages.EN.wm.cab")));
}

TEST_F(Road, AnInstallerThatCannotStartIsShownAsFailureAndEndsTheLoader) {
  device.SetPlatformType("PocketPC");
  DownloadService service;
  WriteFile(service.File("NETCFv35.Messages.EN.wm.cab"), "mobile package");
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  const RunResult run = device.RunLoader({"-InstallCF35MessagesEN"}, "never read\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.err,
                       "Loader cannot continue\nCould not execute file 'Program "
                       "Files\\FerroVanMobile\\NETCFv35.Messages.EN.wm.cab'.\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.out, "Server address")) << run.out;
  EXPECT_FALSE(Exists(device.Install("NETCFv35.Messages.EN.wm.cab")));
  EXPECT_TRUE(device.ProgramStarts().empty());
}

// Servers that fail, stall or misbehave: each ends in the prompt with its text (or, where the
// server's answer is good after all, in the client), with nothing half-fetched left anywhere.

struct HostileServer {
  const char* name;
  std::vector<std::string> switches;
  std::vector<std::string> flags;
  // Expected in the output before the prompt; empty: the installation succeeds.
  std::string status;
  // The library that is not in place afterwards.
  std::string absent;
};

class HostileServers : public Road, public ::testing::WithParamInterface<HostileServer> {};

TEST_P(HostileServers, EndInThePromptWithTheirTextAndLeaveNoCopy) {
  const HostileServer& c = GetParam();
  DownloadService service(c.switches);
  WriteFile(service.File("moved.dll"), ReadFile(service.File(kClientLibraries[2])));
  WriteFile(service.File("NETCFv35.Messages.EN.wm.cab"), "mobile package");
  service.Start();
  device.SetPlatformType("PocketPC");
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  const auto started = std::chrono::steady_clock::now();
  const RunResult run = device.RunLoader(c.flags, "", {{"FERROVAN_DOWNLOAD_STALL_SECONDS", "2"}});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
  if (c.status.empty()) {
    for (const auto& name : RequiredFiles()) {
      EXPECT_EQ(ReadFile(device.Install(name)), ReadFile(service.File(name))) << name;
    }
    ASSERT_EQ(device.ProgramStarts().size(), 1u) << run.out << run.err;
  } else {
    EXPECT_TRUE(Contains(run.out, c.status + Prompt(service.Address() + "/"))) << run.out;
    EXPECT_TRUE(device.ProgramStarts().empty());
  }
  if (!c.absent.empty()) {
    EXPECT_FALSE(Exists(device.Install(c.absent)));
  }
  EXPECT_TRUE(CacheCopies(device).empty());
}

const std::string kConnectionText =
    "Error connecting to server.\nPlease check the Url or network connectivity.\n";

INSTANTIATE_TEST_SUITE_P(
    Faults, HostileServers,
    ::testing::Values(
        HostileServer{"DroppedMidFile",
                      {"--drop-after", std::string(kClientLibraries[1]) + ":1000"},
                      {"-DoNotRunNewLoader"},
                      std::string("Unable to download file: \n") + kClientLibraries[1] + "\n",
                      kClientLibraries[1]},
        HostileServer{"MissingLaterFile",
                      {"--missing", kClientLibraries[3]},
                      {"-DoNotRunNewLoader"},
                      std::string("Unable to download file: \n") + kClientLibraries[3] + "\n",
                      kClientLibraries[3]},
        HostileServer{"SilentOnTheFirstFile",
                      {"--silent", kClientLibraries[0]},
                      {"-DoNotRunNewLoader"},
                      kConnectionText,
                      kClientLibraries[0]},
        HostileServer{"SilentOnTheNewestLoader",
                      {"--silent", kLoaderExe},
                      {},
                      "Unable to download the latest loader.\nPlease check your connection "
                      "settings.\n",
                      kNewLoaderExe},
        HostileServer{"SilentOnTheMessagePackage",
                      {"--silent", "NETCFv35.Messages.EN.wm.cab"},
                      {"-InstallCF35MessagesEN", "-DoNotRunNewLoader"},
                      "\n\n",
                      "NETCFv35.Messages.EN.wm.cab"},
        // Ten bytes a second would hold the device's lock for half an hour per library.
        HostileServer{"TricklingBelowTheRateFloor",
                      {"--slow", std::string(kClientLibraries[3]) + ":10"},
                      {"-DoNotRunNewLoader"},
                      std::string("Unable to download file: \n") + kClientLibraries[3] + "\n",
                      kClientLibraries[3]},
        HostileServer{"SlowButSteady",
                      {"--slow", std::string(kClientLibraries[4]) + ":40000"},
                      {"-DoNotRunNewLoader"},
                      "",
                      ""},
        HostileServer{"WithoutLengths",
                      {"--no-length", kClientExe, "--no-length", kClientLibraries[0]},
                      {"-DoNotRunNewLoader"},
                      "",
                      ""},
        HostileServer{"RedirectingAFile",
                      {"--redirect", std::string(kClientLibraries[2]) + ":moved.dll"},
                      {"-DoNotRunNewLoader"},
                      "",
                      ""}),
    [](const ::testing::TestParamInfo<HostileServer>& param) {
      return std::string(param.param.name);
    });

struct Unreachable {
  std::vector<std::string> flags;
  std::string status;
};

class UnreachableServer : public Road, public ::testing::WithParamInterface<Unreachable> {};

TEST_P(UnreachableServer, EndsInThePromptWithTheAddressAsBuilt) {
  device.WriteSettings("Program Files/FerroVanMobile", "127.0.0.1:1");
  const RunResult run = device.RunLoader(GetParam().flags);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(Contains(run.out, GetParam().status + Prompt("127.0.0.1:1/"))) << run.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    WithAndWithoutHandOver, UnreachableServer,
    ::testing::Values(Unreachable{{"-DoNotRunNewLoader"}, kConnectionText},
                      Unreachable{{},
                                  "Unable to download the latest loader.\nPlease check your "
                                  "connection settings.\n"}));

TEST_F(Road, ANewestLoaderThatCannotBeStartedIsShownAsFailure) {
  DownloadService service;
  WriteFile(service.File(kLoaderExe), "not a program\n");
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());

  const RunResult run = device.RunLoader({}, "never read\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err,
            "Loader cannot continue\nCould not execute file 'Program "
            "Files\\FerroVanMobile\\FerroVan.Mobile.Client.Load.New.exe'.\n");
  EXPECT_FALSE(Contains(run.out, "Server address")) << run.out;
  EXPECT_TRUE(device.ProgramStarts().empty());
}

// The message package is fetched into a copy in the device's Temp folder: one that a killed
// loader left there is gone after the next loader's run, and nothing of it is left beside the
// install folder's files.
TEST_F(Road, AKilledDownloadsCopyIsSweptByTheNextLoader) {
  DownloadService service({"--silent", "NETCFv35.Messages.EN.wm.cab"});
  service.Start();
  device.SetPlatformType("PocketPC");
  device.AddPackageInstaller();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  for (const auto& name : RequiredFiles()) {
    device.InstallCopy(service.File(name), name);
  }
  const std::vector<std::string> installed = FilesIn(device.Install(""));

  RunOptions options;
  options.unsetEnv = {"FERROVAN_DEVICE_ROOT", "FERROVAN_UI", "DISPLAY", "WAYLAND_DISPLAY"};
  auto killed = Host().Start(Host().LoaderProgram(),
                             {"--device-root", Host().ProgramPath(device.Root()), "--ui", "console",
                              "-InstallCF35MessagesEN"},
                             options);
  // The package never arrives: the loader waits in its download with the copy made.
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const std::string& path : service.Requests()) {
          if (path.ends_with("NETCFv35.Messages.EN.wm.cab")) {
            return true;
          }
        }
        return false;
      },
      std::chrono::seconds(60)));
  killed.reset();

  // Nothing listens on port 1: the next run fails its download and ends at the prompt.
  device.WriteSettings("Program Files/FerroVanMobile", "127.0.0.1:1");
  const RunResult next = device.RunLoader({"-InstallCF35MessagesEN"});
  EXPECT_EQ(next.exitStatus, 0);
  EXPECT_TRUE(CacheCopies(device).empty());
  EXPECT_EQ(FilesIn(device.Install("")), installed) << "a copy is left in the install folder";
}

}  // namespace
}  // namespace testing_support
