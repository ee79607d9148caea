// Tests that need a program from outside the project (an X server, nginx) skip themselves when
// it is missing, so that a developer without it can still run the rest. The test command sets
// FERROVAN_REQUIRE_TOOLS: there a missing program fails its tests instead, so that no part of
// the suite drops out unnoticed.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace testing_support {

inline bool ToolsRequired() {
  const char* value = std::getenv("FERROVAN_REQUIRE_TOOLS");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

}  // namespace testing_support

// Skips the current test, or fails it where tools are required, when missing (what is not
// installed, with its Debian package) is not empty. For SetUp() and test bodies.
#define FERROVAN_SKIP_WHEN_MISSING(missing)                                        \
  do {                                                                             \
    const std::string ferrovanMissing = (missing);                                 \
    if (!ferrovanMissing.empty()) {                                                \
      if (::testing_support::ToolsRequired()) {                                    \
        FAIL() << ferrovanMissing << " (required: FERROVAN_REQUIRE_TOOLS is set)"; \
      }                                                                            \
      GTEST_SKIP() << ferrovanMissing;                                             \
    }                                                                              \
  } while (false)
