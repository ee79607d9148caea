// Pipes that a test drives a console front end through: the console reads or writes one end,
// the test the other, on every host.
#pragma once

#include <memory>
#include <string>

#include "platform/dialog.h"

namespace testing_support {

class TestPipe {
 public:
  TestPipe();
  ~TestPipe();
  TestPipe(const TestPipe&) = delete;
  TestPipe& operator=(const TestPipe&) = delete;

  // Writes text into the pipe (all of it: the pipe holds at least a mebibyte).
  void Put(const std::string& text);
  // What waits in the pipe, without waiting for more.
  std::string Drain();
  // No more input: a reader meets the end once it has read what waits.
  void CloseWrite();

 private:
  friend std::unique_ptr<platform::DialogFrontEnd> ConsoleOn(TestPipe&, TestPipe&, TestPipe&);
  struct Ends;
  std::unique_ptr<Ends> ends_;
};

// The host's console front end reading input and writing output and error.
std::unique_ptr<platform::DialogFrontEnd> ConsoleOn(TestPipe& input, TestPipe& output,
                                                    TestPipe& error);

}  // namespace testing_support
