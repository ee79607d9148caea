// The Linux host's entry: the process's own set-up, then the start-up both hosts share.
#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "program/host_start.h"

namespace {

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

void SetVariable(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
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

void Print(bool error, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), error ? stderr : stdout);
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

// The standard streams are the console's.
void PrepareConsole() {}

// A worker may still be finishing its last steps: end now, without waiting for it and without
// running static destructors under it.
void EndProcess(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
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
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return program::StartHost(arguments, {kHostHelpEnd, SetVariable, OwnProgramPath, Print,
                                        HasDisplay, PrepareConsole, EndProcess});
}
