// The Windows loader under Wine as the host of the end-to-end roads: ferrovan-loader.exe and the
// Windows demo client of the Windows build, run through the project's Wine runner in the prefix
// that scripts/test.sh makes for the run.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/loader_host.h"
#include "tests/e2e_wine/wine_paths.h"
#include "tests/support/temp_dir.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

bool OnPath(const std::string& program) {
  const std::string path = EnvironmentValue("PATH");
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    end = end == std::string::npos ? path.size() : end;
    if (end > start &&
        access((path.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Wine writes a Windows program's command line as its process's: the processes that name the
// device root there are the programs running on it.
std::set<std::string> ProgramsOn(const std::string& root) {
  const std::string windowsRoot = Lower(WinePath(root));
  std::set<std::string> programs;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    std::string text = ReadFile((entry.path() / "cmdline").string());
    std::replace(text.begin(), text.end(), '\0', ' ');
    text = Lower(text);
    if (text.find(windowsRoot) != std::string::npos ||
        text.find(Lower(root)) != std::string::npos) {
      programs.insert(entry.path().filename().string());
    }
  }
  return programs;
}

std::string WithPlainLineEnds(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      plain += text[i];
    }
  }
  return plain;
}

class WineHost final : public LoaderHost {
 public:
  std::string Missing() const override {
    if (!OnPath("wineserver") || (!OnPath("wine64") && !OnPath("wine"))) {
      return "Wine (Debian packages wine, wine64)";
    }
    if (WindowsBuild().empty() || !fs::is_regular_file(LoaderProgram()) ||
        !fs::is_regular_file(ClientProgram())) {
      return "the Windows build (scripts/build-windows.sh; FERROVAN_WINDOWS_BUILD_DIR names it)";
    }
    if (WinePrefix().empty()) {
      return "a Wine prefix (FERROVAN_WINEPREFIX, made by scripts/test.sh)";
    }
    return "";
  }
  std::string LoaderProgram() const override { return WindowsBuild() + "/ferrovan-loader.exe"; }
  std::string ClientProgram() const override {
    return WindowsBuild() + "/ferrovan-demo-client.exe";
  }
  std::string SignedLoaderProgram() const override {
    return WindowsBuild() + "/ferrovan-loader-signed.exe";
  }
  std::string SignedNextLoaderProgram() const override {
    return WindowsBuild() + "/ferrovan-loader-signed-next.exe";
  }
  std::string ReleaseSecretKey() const override {
    return WindowsBuild() + "/test-release-key/release.key";
  }
  std::string ProgramPath(const std::string& hostPath) const override { return WinePath(hostPath); }
  RunResult Run(const std::string& program, const std::vector<std::string>& args,
                RunOptions options, const std::string& root) override {
    std::vector<std::string> runnerArgs = {program};
    runnerArgs.insert(runnerArgs.end(), args.begin(), args.end());
    options.env.emplace_back("FERROVAN_WINEPREFIX", WinePrefix());
    // Programs that ran on the device before are not the loader's.
    const std::set<std::string> before = root.empty() ? std::set<std::string>() : ProgramsOn(root);
    RunResult result = testing_support::Run(FERROVAN_WINE_RUNNER, runnerArgs, options);
    if (!root.empty()) {
      const bool ended = WaitUntil(
          [&] {
            const std::set<std::string> now = ProgramsOn(root);
            return std::includes(before.begin(), before.end(), now.begin(), now.end());
          },
          std::chrono::seconds(60));
      EXPECT_TRUE(ended) << "programs the loader started still run on the device";
    }
    result.out = WithPlainLineEnds(result.out);
    result.err = WithPlainLineEnds(result.err);
    return result;
  }
  std::unique_ptr<BackgroundProcess> Start(const std::string& program,
                                           const std::vector<std::string>& args,
                                           RunOptions options) override {
    std::vector<std::string> runnerArgs = {program};
    runnerArgs.insert(runnerArgs.end(), args.begin(), args.end());
    options.env.emplace_back("FERROVAN_WINEPREFIX", WinePrefix());
    return std::make_unique<BackgroundProcess>(FERROVAN_WINE_RUNNER, runnerArgs, options);
  }
  bool SameFolder(const std::string& reported, const std::string& hostPath) const override {
    return SameWindowsPath(reported, WinePath(hostPath));
  }
  bool NamesTellCaseApart() const override { return false; }
  // TerminateProcess with exit code 0, as the device's stop of the client asks.
  int StoppedProgramStatus() const override { return 0; }
};

// Every road of this program runs against the Windows loader.
const bool kWineHostUsed = [] {
  static WineHost host;
  UseHost(host);
  return true;
}();

}  // namespace
}  // namespace testing_support
