// The host's entry: takes the host options off the command line, prepares the emulated device
// and the front end, and hands the rest of the command line to the loader.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loader/start_up.h"
#include "platform/device_root.h"
#include "platform/front_end.h"
#include "platform/text.h"
#include "program/host_options.h"
#include "program/version_text.h"

namespace {

constexpr const char* kProgram = "ferrovan-loader";
// The longest command line the device's process start takes, terminator included.
constexpr std::size_t kCommandLineSize = 32768;

// Follows program::kHostHelp: what differs between the hosts.
constexpr const char* kHostHelpEnd =
    "Environment:\n"
    "  FERROVAN_DEVICE_ROOT  the device root when --device-root is not given\n"
    "  FERROVAN_UI           the front end (console or window) when --ui is not given\n"
    "  DISPLAY, WAYLAND_DISPLAY\n"
    "                        without --ui and FERROVAN_UI, the window is used when one of\n"
    "                        these is set and a window can be opened; else the console\n"
    "\n"
    "Device root: --device-root, else FERROVAN_DEVICE_ROOT, else X when this program stands\n"
    "in X/Program Files/FerroVanMobile/, else $XDG_DATA_HOME/ferrovan/device (by default\n"
    "~/.local/share/ferrovan/device). A named root is refused, and X passed over, when it is\n"
    "/ or a system folder (/usr, /etc, ..., the home folder); X is passed over as well when\n"
    "it is a mount point. Device paths map into it with backslashes as slashes; file names are\n"
    "case-sensitive. Programs the loader starts see FERROVAN_DEVICE_ROOT and FERROVAN_UI.\n"
    "The loader exits with status 0; a bad host option gives status 2.\n";

[[noreturn]] void Refuse(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n%s", kProgram, message.c_str(), program::kHostUsage);
  std::exit(2);
}

program::HostOptions ParseCommandLine(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
  program::HostOptions options;
  std::string error;
  if (!program::ParseHostOptions(arguments, std::getenv("FERROVAN_UI"), options, error)) {
    Refuse(error);
  }
  return options;
}

std::string OwnProgramPath() {
  std::vector<char> path(4096);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) {
      return std::string();
    }
    if (static_cast<std::size_t>(length) < path.size()) {
      return std::string(path.data(), static_cast<std::size_t>(length));
    }
    path.resize(path.size() * 2);
  }
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return false;
}

void ChooseFrontEnd(const program::HostOptions& options) {
  if (options.frontEnd) {
    if (!platform::SelectFrontEnd(*options.frontEnd)) {
      std::fprintf(
          stderr, "%s: %s; using the console\n", kProgram,
          platform::WindowFrontEndBuilt() ? "no window can be opened" : "this build has no window");
    }
    return;
  }
  if (!platform::WindowFrontEndBuilt() || !HasDisplay() ||
      !platform::SelectFrontEnd(platform::FrontEndKind::Window)) {
    platform::SelectFrontEnd(platform::FrontEndKind::Console);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A closed output (a reader that went away) or a file-size limit must fail the write that
  // meets it, as on the device, instead of killing the loader mid-installation. The programs
  // it starts get the default handling back.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // The loader's few threads allocate little: sharing one heap spares each its own mapping.
  mallopt(M_ARENA_MAX, 1);
  const program::HostOptions options = ParseCommandLine(argc, argv);
  if (options.help) {
    std::printf("%s%s%s", program::kHostUsage, program::kHostHelp, kHostHelpEnd);
    return 0;
  }
  if (options.version) {
    std::fputs(program::VersionText(kProgram, FERROVAN_VERSION).c_str(), stdout);
    return 0;
  }
  // A UTF-8 text has no more characters than bytes: a buffer that size is enough, and filling
  // the device's whole 32 KiB every start is not.
  std::vector<wchar_t> commandLine(std::min(options.text.size() + 1, kCommandLineSize));
  if (!platform::NarrowToWide(commandLine, options.text.c_str())) {
    Refuse("the command line is too long (at most " + std::to_string(kCommandLineSize - 1) +
           " characters)");
  }

  const char* rootOption = options.deviceRoot ? options.deviceRoot->c_str() : nullptr;
  // The program's own place decides only when nothing names the root; finding it costs a
  // look-up in /proc on every start.
  const char* rootVariable = std::getenv("FERROVAN_DEVICE_ROOT");
  const bool rootNamed = rootOption != nullptr || (rootVariable != nullptr && *rootVariable);
  std::string root;
  if (!platform::ChooseDeviceRoot(rootOption, rootNamed ? std::string() : OwnProgramPath(), root)) {
    Refuse(program::kNotADeviceRoot + root);
  }
  platform::SetDeviceRoot(root);
  if (!platform::CreateSystemFolders()) {
    std::fprintf(stderr, "%s: cannot create the device root %s\n", kProgram,
                 platform::DeviceRoot().c_str());
    return 1;
  }
  ChooseFrontEnd(options);
  setenv("FERROVAN_DEVICE_ROOT", platform::DeviceRoot().c_str(), 1);
  setenv("FERROVAN_UI", platform::FrontEndName(platform::SelectedFrontEnd()), 1);

  LoaderMain(commandLine.data());

  // A worker may still be finishing its last steps: end now, without waiting for it and
  // without running static destructors under it.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(0);
}
