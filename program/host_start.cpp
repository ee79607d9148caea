#include "program/host_start.h"

#include <string>

#include "loader/start_up.h"
#include "platform/device_root.h"
#include "platform/front_end.h"
#include "platform/host.h"
#include "program/host_options.h"
#include "program/version_text.h"

namespace program {
namespace {

constexpr const char* kProgram = "ferrovan-loader";
// The longest command line the device's process start takes, terminator included.
constexpr std::size_t kCommandLineSize = 32768;

// A refused start: the reason, then the usage, and status 2.
int Refuse(const HostHooks& hooks, const std::string& message) {
  hooks.print(true, std::string(kProgram) + ": " + message + "\n" + kHostUsage);
  return 2;
}

void ChooseFrontEnd(const HostOptions& options, const HostHooks& hooks) {
  if (options.frontEnd) {
    if (*options.frontEnd == platform::FrontEndKind::Console) {
      hooks.prepareConsole();
    }
    if (!platform::SelectFrontEnd(*options.frontEnd)) {
      hooks.print(true, std::string(kProgram) + ": " +
                            (platform::WindowFrontEndBuilt() ? "no window can be opened"
                                                             : "this build has no window") +
                            "; using the console\n");
    }
    return;
  }
  if (!platform::WindowFrontEndBuilt() || !hooks.windowLikely() ||
      !platform::SelectFrontEnd(platform::FrontEndKind::Window)) {
    platform::SelectFrontEnd(platform::FrontEndKind::Console);
  }
}

}  // namespace

int StartHost(const std::vector<std::string>& arguments, const HostHooks& hooks) {
  const std::vector<std::string_view> views(arguments.begin(), arguments.end());
  const std::string ui = platform::EnvironmentText("FERROVAN_UI");
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(views, ui.c_str(), options, error)) {
    return Refuse(hooks, error);
  }
  if (options.help) {
    hooks.print(false, std::string(kHostUsage) + kHostHelp + hooks.helpEnd);
    return 0;
  }
  if (options.version) {
    hooks.print(false, VersionText(kProgram, FERROVAN_VERSION));
    return 0;
  }
  const std::wstring commandLine = platform::Utf8ToWide(options.text);
  if (commandLine.size() >= kCommandLineSize) {
    return Refuse(hooks, "the command line is too long (at most " +
                             std::to_string(kCommandLineSize - 1) + " characters)");
  }

  // The program's own place decides only when nothing names the root, so that a named root
  // spares the look-up.
  std::string root;
  if (!platform::ChooseDeviceRoot(options.deviceRoot ? options.deviceRoot->c_str() : nullptr,
                                  hooks.ownProgramPath, root)) {
    return Refuse(hooks, kNotADeviceRoot + root);
  }
  platform::SetDeviceRoot(root);
  if (!platform::CreateSystemFolders()) {
    hooks.print(true, std::string(kProgram) + ": cannot create the device root " +
                          platform::DeviceRoot() + "\n");
    return 1;
  }
  ChooseFrontEnd(options, hooks);
  // Started programs inherit the process's environment: they see the same device and front end.
  hooks.setVariable("FERROVAN_DEVICE_ROOT", platform::DeviceRoot());
  hooks.setVariable("FERROVAN_UI", platform::FrontEndName(platform::SelectedFrontEnd()));

  LoaderMain(commandLine.c_str());
  hooks.endProcess(0);
  return 0;
}

}  // namespace program
