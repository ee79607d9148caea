#include "tests/e2e/loader_host.h"

#include <filesystem>
#include <system_error>

namespace testing_support {
namespace {

class LinuxHost final : public LoaderHost {
 public:
  std::string Missing() const override { return ""; }
  std::string LoaderProgram() const override { return FERROVAN_LOADER_PATH; }
  std::string SignedLoaderProgram() const override { return FERROVAN_SIGNED_LOADER_PATH; }
  std::string SignedNextLoaderProgram() const override { return FERROVAN_SIGNED_NEXT_LOADER_PATH; }
  std::string ReleaseSecretKey() const override { return FERROVAN_TEST_RELEASE_KEY; }
  std::string ClientProgram() const override {
    return std::string(FERROVAN_BINARY_DIR) + "/ferrovan-demo-client";
  }
  std::string ProgramPath(const std::string& hostPath) const override { return hostPath; }
  RunResult Run(const std::string& program, const std::vector<std::string>& args,
                RunOptions options, const std::string&) override {
    // The loader's output pipe stays open until every program it started has ended.
    return testing_support::Run(program, args, options);
  }
  std::unique_ptr<BackgroundProcess> Start(const std::string& program,
                                           const std::vector<std::string>& args,
                                           RunOptions options) override {
    return std::make_unique<BackgroundProcess>(program, args, options);
  }
  bool SameFolder(const std::string& reported, const std::string& hostPath) const override {
    std::error_code ignored;
    return std::filesystem::weakly_canonical(reported, ignored) ==
           std::filesystem::weakly_canonical(hostPath, ignored);
  }
  bool NamesTellCaseApart() const override { return true; }
  // Stopped with SIGKILL.
  int StoppedProgramStatus() const override { return 128 + 9; }
};

LoaderHost*& Chosen() {
  static LinuxHost linuxHost;
  static LoaderHost* chosen = &linuxHost;
  return chosen;
}

}  // namespace

std::string LoaderHost::SignedReleaseMissing() const {
  if (!Missing().empty()) {
    return Missing();
  }
  if (SignedLoaderProgram().empty() || !std::filesystem::is_regular_file(SignedLoaderProgram()) ||
      !std::filesystem::is_regular_file(SignedNextLoaderProgram()) ||
      !std::filesystem::is_regular_file(ReleaseSecretKey())) {
    return "the signed loader and the tests' release key (the build makes them with minisign, "
           "Debian package minisign)";
  }
  return "";
}

LoaderHost& Host() {
  return *Chosen();
}

void UseHost(LoaderHost& host) {
  Chosen() = &host;
}

}  // namespace testing_support
