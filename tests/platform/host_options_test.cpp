// The host options that every host's entry takes before the loader's own command line.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "program/host_options.h"

namespace {

using platform::FrontEndKind;

struct Case {
  const char* name;
  std::vector<std::string_view> arguments;
  const char* uiVariable;
  std::string deviceRoot;  // "" when none
  int frontEnd;            // -1 none, else a FrontEndKind
  std::string text;
};

TEST(HostOptionsTest, OptionsComeFirstAndTheRestIsTheLoadersCommandLine) {
  const int console = static_cast<int>(FrontEndKind::Console);
  const int window = static_cast<int>(FrontEndKind::Window);
  const Case cases[] = {
      {"nothing", {}, nullptr, "", -1, ""},
      {"separate values",
       {"--device-root", "d", "--ui", "window", "-ForceToUpgrade"},
       nullptr,
       "d",
       window,
       "-ForceToUpgrade"},
      {"joined values", {"--device-root=a b", "--ui=console"}, nullptr, "a b", console, ""},
      {"text joined with blanks", {"-A", "", "x y"}, nullptr, "", -1, "-A  x y"},
      {"options end at the first text",
       {"-x", "--ui", "window"},
       nullptr,
       "",
       -1,
       "-x --ui window"},
      {"-- ends them", {"--", "--ui"}, nullptr, "", -1, "--ui"},
      {"the variable chooses", {}, "window", "", window, ""},
      {"an empty variable is unset", {}, "", "", -1, ""},
      {"--ui wins over the variable", {"--ui", "console"}, "bogus", "", console, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    program::HostOptions options;
    std::string error;
    ASSERT_TRUE(program::ParseHostOptions(test.arguments, test.uiVariable, options, error))
        << error;
    EXPECT_EQ(options.deviceRoot.value_or(""), test.deviceRoot);
    EXPECT_EQ(options.frontEnd ? static_cast<int>(*options.frontEnd) : -1, test.frontEnd);
    EXPECT_EQ(options.text, test.text);
  }
}

TEST(HostOptionsTest, HelpAndVersionAreFlags) {
  program::HostOptions options;
  std::string error;
  const std::vector<std::string_view> arguments = {"--version", "--help", "text"};
  ASSERT_TRUE(program::ParseHostOptions(arguments, nullptr, options, error));
  EXPECT_TRUE(options.help);
  EXPECT_TRUE(options.version);
  EXPECT_EQ(options.text, "text");
}

TEST(HostOptionsTest, ABadOptionIsRefusedWithOneLine) {
  const struct {
    std::vector<std::string_view> arguments;
    const char* uiVariable;
    std::string error;
  } cases[] = {
      {{"--bogus"}, nullptr, "unknown option --bogus"},
      {{"--help", "--devce-root", "x"}, nullptr, "unknown option --devce-root"},
      {{"--device-root"}, nullptr, "option --device-root needs a value"},
      {{"--device-root="}, nullptr, "option --device-root needs a folder"},
      {{"--ui"}, nullptr, "option --ui needs a value"},
      {{"--ui", "tty"}, nullptr, "--ui: unknown front end 'tty' (console or window)"},
      {{}, "Window", "FERROVAN_UI: unknown front end 'Window' (console or window)"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.error);
    program::HostOptions options;
    std::string error;
    EXPECT_FALSE(program::ParseHostOptions(test.arguments, test.uiVariable, options, error));
    EXPECT_EQ(error, test.error);
  }
}

}  // namespace
