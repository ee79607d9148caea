// The host's own command-line options, which come before the loader's command line. Every host
// takes the same options; each passes its arguments in as UTF-8.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/front_end.h"

namespace platform {

inline constexpr const char* kHostUsage =
    "Usage: ferrovan-loader [--device-root DIR] [--ui console|window] [--help] [--version] "
    "[TEXT...]\n";

struct HostOptions {
  std::optional<std::string> deviceRoot;
  std::optional<FrontEndKind> frontEnd;
  bool help = false;
  bool version = false;
  std::string text;  // the loader's command line: the remaining arguments joined with blanks
};

// arguments excludes the program's name. uiVariable is FERROVAN_UI's value (null when unset),
// which chooses the front end when --ui does not. False with a one-line reason in error for an
// unknown or incomplete option or an unknown front end.
bool ParseHostOptions(std::span<const std::string_view> arguments, const char* uiVariable,
                      HostOptions& options, std::string& error);

}  // namespace platform
