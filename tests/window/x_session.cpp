#include "tests/window/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/host.h"
#include "resources/dialog_template.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace window_testing {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty()) {
      lines.push_back(line);
    }
  }
  return lines;
}

// Reads the display number that Xvfb writes to fd once it accepts connections.
std::string ReadDisplayNumber(int fd, Clock::time_point deadline) {
  std::string text;
  while (text.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return "";
    }
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left)) <= 0) {
      continue;
    }
    char buffer[32];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      return "";
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text.substr(0, text.find('\n'));
}

}  // namespace

std::string FindProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

std::string MissingTools() {
  struct Tool {
    const char* program;
    const char* package;
  };
  std::string missing;
  for (const Tool& tool : {Tool{"Xvfb", "xvfb"}, Tool{"xdotool", "xdotool"}}) {
    if (FindProgram(tool.program).empty()) {
      missing += std::string(missing.empty() ? "" : ", ") + tool.program + " (Debian package " +
                 tool.package + ")";
    }
  }
  return missing.empty() ? "" : "not installed: " + missing;
}

XServer::XServer(int width, int height) : width_(width), height_(height) {
  // Xlib's locks must be set up before its first call, since the window under test uses its
  // own connection on another thread.
  static std::once_flag threadsReady;
  std::call_once(threadsReady, [] { XInitThreads(); });

  const std::string xvfb = FindProgram("Xvfb");
  if (xvfb.empty()) {
    error_ = "Xvfb is not installed";
    return;
  }
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid_ = fork();
  if (pid_ == 0) {
    // The server must not outlive a test that crashes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, 0);
    dup2(devNull, 1);
    dup2(devNull, 2);
    dup2(ready[1], 3);
    execl(xvfb.c_str(), "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten",
          "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  const std::string number =
      pid_ > 0 ? ReadDisplayNumber(ready[0], Clock::now() + std::chrono::seconds(30)) : "";
  close(ready[0]);
  if (number.empty()) {
    error_ = "Xvfb did not start";
    return;
  }
  name_ = ":" + number;
  display_ = XOpenDisplay(name_.c_str());
  if (display_ == nullptr) {
    error_ = "cannot connect to Xvfb on " + name_;
  }
}

XServer::~XServer() {
  if (display_ != nullptr) {
    XCloseDisplay(display_);
  }
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string XServer::XDoTool(const std::vector<std::string>& args) const {
  testing_support::RunOptions options;
  options.env = {{"DISPLAY", name_}};
  options.timeout = std::chrono::seconds(20);
  const auto result = testing_support::Run(FindProgram("xdotool"), args, options);
  return result.exitStatus == 0 ? result.out : "";
}

std::vector<std::string> XServer::FindWindows(const std::string& pattern, bool byName) const {
  return Lines(XDoTool({"search", "--onlyvisible", byName ? "--name" : "--class", pattern}));
}

std::string XServer::WaitForWindow(const std::string& pattern, bool byName,
                                   std::chrono::milliseconds timeout) const {
  std::vector<std::string> found;
  testing_support::WaitUntil(
      [&] {
        found = FindWindows(pattern, byName);
        return found.size() == 1;
      },
      timeout);
  return found.size() == 1 ? found[0] : "";
}

bool XServer::Geometry(const std::string& windowId, WindowGeometry& geometry) const {
  bool complete = true;
  auto field = [&](const std::vector<std::string>& lines, const std::string& key) {
    for (const auto& line : lines) {
      if (line.rfind(key + "=", 0) == 0) {
        return std::atoi(line.c_str() + key.size() + 1);
      }
    }
    complete = false;
    return 0;
  };
  const auto lines = Lines(XDoTool({"getwindowgeometry", "--shell", windowId}));
  geometry = {field(lines, "X"), field(lines, "Y"), field(lines, "WIDTH"), field(lines, "HEIGHT")};
  return complete;
}

void XServer::Click(int x, int y) const {
  // No --sync: it waits for a move that never comes when the pointer is already there. The
  // server handles the move before the click either way.
  XDoTool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

void XServer::Type(const std::string& text) const {
  XDoTool({"type", "--delay", "20", text});
}

void XServer::Key(const std::string& keys) const {
  XDoTool({"key", keys});
}

void XServer::RequestClose(const std::string& windowId) const {
  const auto window = static_cast<::Window>(std::stoul(windowId));
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

std::vector<unsigned> XServer::Capture() const {
  std::vector<unsigned> shot;
  XImage* image =
      XGetImage(display_, DefaultRootWindow(display_), 0, 0, static_cast<unsigned>(width_),
                static_cast<unsigned>(height_), AllPlanes, ZPixmap);
  if (image == nullptr) {
    return shot;
  }
  shot.reserve(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      shot.push_back(static_cast<unsigned>(XGetPixel(image, x, y) & 0xFFFFFF));
    }
  }
  XDestroyImage(image);
  return shot;
}

int XServer::Ink(const platform::PixelRect& rect, unsigned background) const {
  return InkIn(Capture(), width_, rect, background);
}

XServer* SharedServer(std::string& why) {
  static std::unique_ptr<XServer> server;
  static std::string failure;
  static std::once_flag started;
  std::call_once(started, [] {
    failure = MissingTools();
    if (!failure.empty()) {
      return;
    }
    auto candidate = std::make_unique<XServer>(480, 640);
    if (!candidate->Ok()) {
      failure = candidate->Error();
      return;
    }
    setenv("DISPLAY", candidate->Name().c_str(), 1);
    if (platform::OpenWindowFrontEnd() == nullptr) {
      failure = "the window front end cannot open " + candidate->Name();
      return;
    }
    server = std::move(candidate);
  });
  why = failure;
  return server.get();
}

platform::PixelRect LoaderControlRect(int controlId) {
  platform::PixelRect rect;
  platform::WindowControlRect(*resources::FindDialogTemplate(resources::kLoaderDialogId), controlId,
                              rect);
  return rect;
}

int InkIn(const std::vector<unsigned>& shot, int width, const platform::PixelRect& rect,
          unsigned background) {
  if (width <= 0) {
    return 0;
  }
  const int height = static_cast<int>(shot.size()) / width;
  int count = 0;
  for (int y = std::max(0, rect.y); y < std::min(height, rect.y + rect.height); ++y) {
    for (int x = std::max(0, rect.x); x < std::min(width, rect.x + rect.width); ++x) {
      if (shot[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x)] != background) {
        ++count;
      }
    }
  }
  return count;
}

}  // namespace window_testing
