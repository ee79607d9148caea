#include "tests/support/release_keys_for_tests.h"

#include <utility>

#include "download/release_keys.h"

namespace testing_support {
namespace {

std::string& Keys() {
  static std::string keys;
  return keys;
}

}  // namespace

ScopedReleaseKeys::ScopedReleaseKeys(std::string keys) : previous_(std::move(Keys())) {
  Keys() = std::move(keys);
}

ScopedReleaseKeys::~ScopedReleaseKeys() {
  Keys() = std::move(previous_);
}

}  // namespace testing_support

std::string_view BuiltInReleaseKeys() {
  return testing_support::Keys();
}
