#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_dir.h"

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Forks and execs program; the child's stdin/stdout/stderr become the given descriptors.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const RunOptions& options, int in, int out, int err) {
  std::vector<std::string> argvText;
  argvText.push_back(program);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const auto& name : options.unsetEnv) {
      unsetenv(name.c_str());
    }
    for (const auto& [name, value] : options.env) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0) {
      _exit(126);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int StatusOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
      pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = Spawn(program, args, options, inPipe[0], outPipe[1], errPipe[1]);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);

  // Feed the input from a thread so that a child that writes much before reading cannot block
  // us; closing the pipe afterwards gives the child its end of input.
  std::thread feeder([fd = inPipe[1], input = options.input] {
    signal(SIGPIPE, SIG_IGN);
    size_t done = 0;
    while (done < input.size()) {
      ssize_t n = write(fd, input.data() + done, input.size() - done);
      if (n <= 0) {
        break;
      }
      done += static_cast<size_t>(n);
    }
    close(fd);
  });

  RunResult result;
  const auto deadline = Clock::now() + options.timeout;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    int ready = poll(fds, 2, RemainingMs(deadline));
    if (ready == 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        continue;
      }
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) {
      close(fd.fd);
    }
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.maxResidentKb = usage.ru_maxrss;
  feeder.join();
  result.exitStatus = result.timedOut ? -1 : StatusOf(status);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const RunOptions& options) {
  int outPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = Spawn(program, args, options, devNull, outPipe[1], 2);
  close(devNull);
  close(outPipe[1]);
  outFd_ = outPipe[0];
}

BackgroundProcess::~BackgroundProcess() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(outFd_);
}

std::string BackgroundProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    pollfd fd = {outFd_, POLLIN, 0};
    if (poll(&fd, 1, RemainingMs(deadline)) <= 0) {
      return {};
    }
    char buffer[1024];
    ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n <= 0) {
      return {};
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

int BackgroundProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  int status = 0;
  while (Clock::now() < deadline) {
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : StatusOf(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void StopAndReapChildren() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string stat = ReadFile(entry.path().string() + "/stat");
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos) {
      continue;
    }
    std::istringstream fields(stat.substr(end + 1));
    std::string state;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent == getpid()) {
      const pid_t child = static_cast<pid_t>(std::stol(stat));
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }
}

}  // namespace testing_support
