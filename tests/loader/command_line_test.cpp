#include "loader/command_line.h"

#include <gtest/gtest.h>

#include "tests/loader/loader_fixture.h"

namespace loader_test {
namespace {

TEST(FindSubstringTest, GivesTheCharacterIndexOfTheFirstExactOccurrence) {
  struct Case {
    const wchar_t* text;
    const wchar_t* pattern;
    int expected;
  } cases[] = {
      {L"", L"-x", -1},
      {L"-x", L"-x", 0},
      {L"a-x-x", L"-x", 1},
      {L"\u00c4\u00d6-x", L"-x", 2},  // characters, not UTF-8 or UTF-16 bytes
      {L"\U0001F600-x", L"-x", 1},
      {L"-ForceToUpgrade", L"-forcetoupgrade", -1},
      {L"-Force", L"-ForceToUpgrade", -1},
      {L"abc", L"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindSubstring(c.text, c.pattern), c.expected) << c.text << " / " << c.pattern;
  }
}

class ParseCommandLineTest : public ::testing::Test {
 protected:
  FakeSystemInfo systemInfo;
  platform::ScopedService<platform::SystemInfoService> guard{systemInfo};
};

TEST_F(ParseCommandLineTest, FindsEachFlagAnywhereWithItsExactCase) {
  struct Case {
    const wchar_t* commandLine;
    bool installCfMessages, forceUpgrade, updateLoader;
  } cases[] = {
      {L"", false, false, true},
      {nullptr, false, false, true},
      {L"-DoNotRunNewLoader", false, false, false},
      {L"-donotrunnewloader", false, false, true},
      {L"a-DoNotRunNewLoaderb", false, false, false},
      {L"-ForceToUpgradeNow", false, true, true},
      {L"x \"-InstallCF35MessagesEN\"", true, false, true},
      {L"-DoNotRunNewLoader -ForceToUpgrade -InstallCF35MessagesEN", true, true, false},
      {L"-InstallCF35MessagesEN-ForceToUpgrade", true, true, true},
  };
  for (const Case& c : cases) {
    LoaderContext context;
    ParseCommandLine(&context, c.commandLine);
    const wchar_t* shown = c.commandLine != nullptr ? c.commandLine : L"(null)";
    EXPECT_EQ(context.installCfMessages, c.installCfMessages) << shown;
    EXPECT_EQ(context.forceUpgrade, c.forceUpgrade) << shown;
    EXPECT_EQ(context.updateLoader, c.updateLoader) << shown;
  }
}

TEST_F(ParseCommandLineTest, NeverClearsAFlag) {
  LoaderContext context;
  context.installCfMessages = true;
  context.forceUpgrade = true;
  ParseCommandLine(&context, L"-DoNotRunNewLoader");
  EXPECT_TRUE(context.installCfMessages);
  EXPECT_TRUE(context.forceUpgrade);
  EXPECT_FALSE(context.updateLoader);
}

}  // namespace
}  // namespace loader_test
