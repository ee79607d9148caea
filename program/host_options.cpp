#include "program/host_options.h"

namespace program {
namespace {

// The value of "--name VALUE" or "--name=VALUE" in value; advances index past what it used.
// False when argument is another option; error set when the value is missing.
bool OptionValue(std::span<const std::string_view> arguments, std::size_t& index,
                 std::string_view name, std::string& value, std::string& error) {
  const std::string_view argument = arguments[index];
  if (argument == name) {
    if (index + 1 >= arguments.size()) {
      error = "option " + std::string(name) + " needs a value";
      return true;
    }
    value = std::string(arguments[++index]);
    return true;
  }
  if (argument.size() > name.size() && argument.substr(0, name.size()) == name &&
      argument[name.size()] == '=') {
    value = std::string(argument.substr(name.size() + 1));
    return true;
  }
  return false;
}

bool FrontEndFrom(const std::string& value, const char* source, HostOptions& options,
                  std::string& error) {
  platform::FrontEndKind kind;
  if (!platform::ParseFrontEndKind(value, kind)) {
    error = std::string(source) + ": unknown front end '" + value + "' (console or window)";
    return false;
  }
  options.frontEnd = kind;
  return true;
}

}  // namespace

bool ParseHostOptions(std::span<const std::string_view> arguments, const char* uiVariable,
                      HostOptions& options, std::string& error) {
  options = HostOptions();
  error.clear();
  std::size_t index = 0;
  for (; index < arguments.size(); ++index) {
    const std::string_view argument = arguments[index];
    if (argument.substr(0, 2) != "--") {
      break;
    }
    if (argument == "--") {
      ++index;
      break;
    }
    std::string value;
    if (OptionValue(arguments, index, "--device-root", value, error)) {
      if (error.empty() && value.empty()) {
        error = "option --device-root needs a folder";
      }
      if (!error.empty()) {
        return false;
      }
      options.deviceRoot = value;
    } else if (OptionValue(arguments, index, "--ui", value, error)) {
      if (!error.empty() || !FrontEndFrom(value, "--ui", options, error)) {
        return false;
      }
    } else if (argument == "--help") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else {
      error = "unknown option " + std::string(argument);
      return false;
    }
  }
  for (; index < arguments.size(); ++index) {
    if (!options.text.empty()) {
      options.text += ' ';
    }
    options.text += arguments[index];
  }
  if (!options.frontEnd && uiVariable != nullptr && *uiVariable != '\0') {
    return FrontEndFrom(uiVariable, "FERROVAN_UI", options, error);
  }
  return true;
}

}  // namespace program
