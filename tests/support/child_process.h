// Running the built programs from tests: one run to its end with its output captured, or a
// server kept running for the length of a test.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace testing_support {

struct RunResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  bool timedOut = false;
  std::string out;
  std::string err;
  long maxResidentKb = 0;  // the program's own peak resident size
};

struct RunOptions {
  std::string input;                                     // standard input, then end of input
  std::vector<std::pair<std::string, std::string>> env;  // set (value "" with unset: removes)
  std::vector<std::string> unsetEnv;
  std::string workingFolder;  // empty: the test's own
  std::chrono::milliseconds timeout = std::chrono::seconds(60);
};

// Runs program with args to its end (killed at the time-out) and captures its streams.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

// A program running in the background, stopped (SIGKILL) when destroyed. Its standard output
// is read line by line on request.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                    const RunOptions& options = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // The next line of its standard output, without the line end; empty on end or time-out.
  std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  pid_t Pid() const { return pid_; }
  // Waits for it to end: its exit status, 128 + the signal that ended it, or -1 on time-out.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string pending_;
  bool ended_ = false;
};

// Stops (SIGKILL) and reaps every child of this process that is still there, found through
// /proc, so that nothing a failing test started outlives it or holds its output open.
void StopAndReapChildren();

}  // namespace testing_support
