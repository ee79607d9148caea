// A test whose outside program is missing skips itself when run by hand, and fails under the
// test command (FERROVAN_REQUIRE_TOOLS), which must never leave a part of the suite out.
#include "tests/support/required_tools.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "tests/support/child_process.h"

namespace {

// Sets (or, with nullopt, removes) FERROVAN_REQUIRE_TOOLS for one scope.
class ScopedRequireTools {
 public:
  explicit ScopedRequireTools(const std::optional<std::string>& value) {
    if (const char* old = std::getenv(kName)) {
      old_ = old;
    }
    Set(value);
  }
  ~ScopedRequireTools() { Set(old_); }
  ScopedRequireTools(const ScopedRequireTools&) = delete;
  ScopedRequireTools& operator=(const ScopedRequireTools&) = delete;

 private:
  static constexpr const char* kName = "FERROVAN_REQUIRE_TOOLS";
  static void Set(const std::optional<std::string>& value) {
    if (value) {
      setenv(kName, value->c_str(), 1);
    } else {
      unsetenv(kName);
    }
  }
  std::optional<std::string> old_;
};

void SkipWhenMissing(const std::string& missing) {
  FERROVAN_SKIP_WHEN_MISSING(missing);
}

TEST(SkipWhenMissing, SkipsByHandAndFailsUnderTheTestCommand) {
  using Type = testing::TestPartResult::Type;
  struct Case {
    std::optional<std::string> requireTools;
    std::string missing;
    std::optional<Type> result;  // none: the test goes on
  };
  const Case cases[] = {
      {std::nullopt, "Xvfb (Debian package xvfb)", Type::kSkip},
      {"", "Xvfb (Debian package xvfb)", Type::kSkip},
      {"0", "Xvfb (Debian package xvfb)", Type::kSkip},
      {"1", "Xvfb (Debian package xvfb)", Type::kFatalFailure},
      {"yes", "Xvfb (Debian package xvfb)", Type::kFatalFailure},
      {std::nullopt, "", std::nullopt},
      {"1", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requireTools.value_or("<unset>") + " / " + c.missing);
    testing::TestPartResultArray results;
    {
      ScopedRequireTools require(c.requireTools);
      testing::ScopedFakeTestPartResultReporter reporter(
          testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      SkipWhenMissing(c.missing);
    }
    if (!c.result) {
      EXPECT_EQ(results.size(), 0);
      continue;
    }
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results.GetTestPartResult(0).type(), *c.result);
    // The message names what to install.
    EXPECT_NE(std::string(results.GetTestPartResult(0).message()).find(c.missing),
              std::string::npos);
  }
}

#ifdef FERROVAN_WINDOW_TEST_PATH
// The window tests themselves, on a machine without Xvfb: a PATH that holds nothing.
TEST(SkipWhenMissing, WindowTestsFailWithoutXvfbUnderTheTestCommand) {
  const std::string filter = "--gtest_filter=WindowFrontEndTest.*";
  testing_support::RunOptions byHand;
  byHand.env = {{"PATH", "/nonexistent"}};
  byHand.unsetEnv = {"FERROVAN_REQUIRE_TOOLS"};
  const auto skipped = testing_support::Run(FERROVAN_WINDOW_TEST_PATH, {filter}, byHand);
  EXPECT_EQ(skipped.exitStatus, 0) << skipped.out << skipped.err;
  EXPECT_NE(skipped.out.find("[  SKIPPED ]"), std::string::npos) << skipped.out;

  testing_support::RunOptions underTestCommand;
  underTestCommand.env = {{"PATH", "/nonexistent"}, {"FERROVAN_REQUIRE_TOOLS", "1"}};
  const auto failed = testing_support::Run(FERROVAN_WINDOW_TEST_PATH, {filter}, underTestCommand);
  EXPECT_NE(failed.exitStatus, 0) << failed.out << failed.err;
  EXPECT_NE(failed.out.find("Debian package xvfb"), std::string::npos) << failed.out;
}
#endif

}  // namespace
