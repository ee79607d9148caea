// What only Windows has of the console: a line read from a file handle, leaving what lies past
// it. The cases of every host are in tests/platform/console_test.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/console/console_front_end.h"
#include "resources/dialog_template.h"
#include "tests/platform/console_fixture.h"

namespace {

using platform::WindowHandle;

using console_testing::kCancel;
using console_testing::kEdit;
using console_testing::kOk;
using console_testing::kStatus;

void Put(HANDLE pipe, const std::string& text) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  ASSERT_EQ(written, text.size());
}

struct Pipe {
  Pipe() { EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 1 << 20)); }
  ~Pipe() {
    for (HANDLE end : {read, write}) {
      if (end != nullptr) {
        CloseHandle(end);
      }
    }
  }
  void CloseWrite() {
    CloseHandle(write);
    write = nullptr;
  }
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

class WindowsConsoleTest : public console_testing::ConsoleFixture {
 protected:
  WindowsConsoleTest() { console = platform::MakeConsoleFrontEnd(in.read, out.write, err.write); }

  Pipe in, out, err;
};

TEST_F(WindowsConsoleTest, FromAFileThePromptLeavesWhatLiesPastTheLine) {
  wchar_t folder[MAX_PATH], name[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"fvl", 0, name), 0u);
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Put(file, "from a file\r\nthe rest\n");
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  console = platform::MakeConsoleFrontEnd(file, out.write, err.write);
  Run([this](WindowHandle dialog) { ShowPrompt(dialog, L"Enter URL", L""); });

  EXPECT_EQ(commands, std::vector<int>{kOk});
  EXPECT_EQ(editAtCommand, L"from a file");
  char rest[32] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file, rest, sizeof rest, &got, nullptr));
  EXPECT_EQ(std::string(rest, got), "the rest\n");
  CloseHandle(file);
}

}  // namespace
