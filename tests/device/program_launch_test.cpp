#include "device/program_launch.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/device/device_fixture.h"

namespace {

class ProgramLaunchTest : public ::testing::Test {
 protected:
  testing_support::FakeProcesses processes;
  platform::ScopedService<platform::ProcessService> guard{processes};
};

TEST_F(ProgramLaunchTest, RunProgramStartsWithoutWaiting) {
  EXPECT_TRUE(RunProgram(L"Program Files\\FerroVanMobile\\Client.exe", L"-NewLoader"));
  EXPECT_TRUE(RunProgram(L"a.exe", L""));
  EXPECT_TRUE(RunProgram(L"b.exe", nullptr));
  processes.startResult = false;
  EXPECT_FALSE(RunProgram(L"c.exe", L""));
  ASSERT_EQ(processes.starts.size(), 4u);
  EXPECT_EQ(processes.starts[0].file, L"Program Files\\FerroVanMobile\\Client.exe");
  EXPECT_EQ(processes.starts[0].parameters, L"-NewLoader");
  EXPECT_EQ(processes.starts[1].parameters, L"");
  EXPECT_EQ(processes.starts[2].parameters, L"");
  for (const auto& start : processes.starts) {
    EXPECT_FALSE(start.wait);
  }
}

TEST_F(ProgramLaunchTest, InstallerGetsTheQuotedPackageAndIsWaitedFor) {
  const wchar_t* package = L"Program Files\\Ferro Van\\NETCFv35.Messages.EN.cab";
  EXPECT_TRUE(RunInstaller(package));
  processes.startResult = false;
  EXPECT_FALSE(RunInstaller(package));
  ASSERT_EQ(processes.starts.size(), 2u);
  EXPECT_EQ(processes.starts[0].file, L"\\Windows\\WCELOAD.EXE");
  EXPECT_EQ(processes.starts[0].parameters,
            L"/delete 0 /noui  \"Program Files\\Ferro Van\\NETCFv35.Messages.EN.cab\"");
  EXPECT_TRUE(processes.starts[0].wait);
}

TEST_F(ProgramLaunchTest, InstallerParametersThatDoNotFitAreRefused) {
  const std::wstring longest(MAX_PATH - 1 - 19, L'p');
  wchar_t out[MAX_PATH];
  EXPECT_TRUE(FormatInstallerParameters(out, longest.c_str()));
  EXPECT_EQ(std::wstring(out).size(), MAX_PATH - 1);
  const std::wstring tooLong = longest + L"p";
  EXPECT_FALSE(FormatInstallerParameters(out, tooLong.c_str()));
  EXPECT_STREQ(out, L"");
  EXPECT_FALSE(RunInstaller(tooLong.c_str()));
  EXPECT_TRUE(processes.starts.empty());
}

}  // namespace
