#include "tests/support/console_pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/console/console_front_end.h"

namespace testing_support {

struct TestPipe::Ends {
  int read = -1;
  int write = -1;
};

TestPipe::TestPipe() : ends_(std::make_unique<Ends>()) {
  int ends[2];
  EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
  ends_->read = ends[0];
  ends_->write = ends[1];
  fcntl(ends_->write, F_SETPIPE_SZ, 1 << 20);
}

TestPipe::~TestPipe() {
  for (int end : {ends_->read, ends_->write}) {
    if (end >= 0) {
      close(end);
    }
  }
}

void TestPipe::Put(const std::string& text) {
  ASSERT_EQ(write(ends_->write, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

std::string TestPipe::Drain() {
  std::string text;
  char buffer[4096];
  pollfd ready{ends_->read, POLLIN, 0};
  while (poll(&ready, 1, 0) > 0 && (ready.revents & (POLLIN | POLLHUP)) != 0) {
    const ssize_t got = read(ends_->read, buffer, sizeof buffer);
    if (got <= 0) {
      break;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

void TestPipe::CloseWrite() {
  close(ends_->write);
  ends_->write = -1;
}

std::unique_ptr<platform::DialogFrontEnd> ConsoleOn(TestPipe& input, TestPipe& output,
                                                    TestPipe& error) {
  return platform::MakeConsoleFrontEnd(input.ends_->read, output.ends_->write, error.ends_->write);
}

}  // namespace testing_support
