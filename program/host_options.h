// The host's own command-line options, which come before the loader's command line. Every host
// takes the same options; each passes its arguments in as UTF-8.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/front_end.h"

namespace program {

inline constexpr const char* kHostUsage =
    "Usage: ferrovan-loader [--device-root DIR] [--ui console|window] [--help] [--version] "
    "[TEXT...]\n";

// The first part of --help, the same on every host: the options and the loader's flags. Each host
// adds its environment and where its device root is.
inline constexpr const char* kHostHelp =
    "Starts the Quillmar RF loader against an emulated device kept in a folder.\n"
    "\n"
    "Host options (they come first; \"--\" ends them):\n"
    "  --device-root DIR  the folder that holds the emulated device\n"
    "  --ui console|window\n"
    "                     the front end that shows the loader dialog\n"
    "  --help             show this text and exit\n"
    "  --version          show the version, the release number and the release keys\n"
    "                     this loader trusts (none: releases are not checked), and exit\n"
    "\n"
    "The remaining arguments, joined with blanks, are the loader's command line. Flags:\n"
    "  -InstallCF35MessagesEN  install the Compact Framework 3.5 English messages package\n"
    "  -ForceToUpgrade         empty the install folder and fetch every client file anew\n"
    "  -DoNotRunNewLoader      fetch the client files in this loader instead of fetching\n"
    "                          and starting the newest loader first\n"
    "\n";

// The start of the error for a named device root that would be the host's top folder or a system
// folder; the folder follows.
inline constexpr const char* kNotADeviceRoot =
    "a device root must be a folder of its own, not the host's top folder or a system folder: ";

struct HostOptions {
  std::optional<std::string> deviceRoot;
  std::optional<platform::FrontEndKind> frontEnd;
  bool help = false;
  bool version = false;
  std::string text;  // the loader's command line: the remaining arguments joined with blanks
};

// arguments excludes the program's name. uiVariable is FERROVAN_UI's value (null when unset),
// which chooses the front end when --ui does not. False with a one-line reason in error for an
// unknown or incomplete option or an unknown front end.
bool ParseHostOptions(std::span<const std::string_view> arguments, const char* uiVariable,
                      HostOptions& options, std::string& error);

}  // namespace program
