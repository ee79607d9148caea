#include "tests/support/console_pipes.h"

#include <gtest/gtest.h>

#include "platform/win32/console/console_front_end.h"

namespace testing_support {

struct TestPipe::Ends {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

TestPipe::TestPipe() : ends_(std::make_unique<Ends>()) {
  EXPECT_TRUE(CreatePipe(&ends_->read, &ends_->write, nullptr, 1 << 20));
}

TestPipe::~TestPipe() {
  for (HANDLE end : {ends_->read, ends_->write}) {
    if (end != nullptr) {
      CloseHandle(end);
    }
  }
}

void TestPipe::Put(const std::string& text) {
  DWORD written = 0;
  ASSERT_TRUE(
      WriteFile(ends_->write, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  ASSERT_EQ(written, text.size());
}

std::string TestPipe::Drain() {
  std::string text;
  DWORD available = 0;
  while (PeekNamedPipe(ends_->read, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    std::string chunk(available, '\0');
    DWORD got = 0;
    if (!ReadFile(ends_->read, chunk.data(), available, &got, nullptr) || got == 0) {
      break;
    }
    text.append(chunk, 0, got);
  }
  return text;
}

void TestPipe::CloseWrite() {
  CloseHandle(ends_->write);
  ends_->write = nullptr;
}

std::unique_ptr<platform::DialogFrontEnd> ConsoleOn(TestPipe& input, TestPipe& output,
                                                    TestPipe& error) {
  return platform::MakeConsoleFrontEnd(input.ends_->read, output.ends_->write, error.ends_->write);
}

}  // namespace testing_support
