// The start-up that both hosts' entries run: the host options, the device root, the front end,
// then the loader. An entry supplies the few things that differ between the hosts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace program {

struct HostHooks {
  // The end of --help that differs between the hosts.
  const char* helpEnd;
  // Sets a variable of the process's environment, which the programs it starts inherit.
  void (*setVariable)(const char* name, const std::string& value);
  // The path of this program's file; empty when it cannot be found.
  std::string (*ownProgramPath)();
  // Writes a text for the standard output, or for the standard error when error is set.
  void (*print)(bool error, std::string_view text);
  // Whether a window may be opened when nothing names the front end.
  bool (*windowLikely)();
  // Readies what the console front end shows on, when it is asked for by name.
  void (*prepareConsole)();
  // Ends the process with status once the loader is done, without waiting for the worker
  // beyond the host's bound and without running static destructors under it.
  void (*endProcess)(int status);
};

// Runs the start-up on the arguments after the program's name (UTF-8); returns the status of a
// start that ends before the loader runs (--help, --version, a refused option), else ends the
// process through hooks.endProcess.
int StartHost(const std::vector<std::string>& arguments, const HostHooks& hooks);

}  // namespace program
