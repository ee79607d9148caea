#include "tests/support/release_keys_for_tests.h"

#include <utility>

#include "download/release_keys.h"

namespace testing_support {
namespace {

std::string& Keys() {
  static std::string keys;
  return keys;
}

std::uint32_t& Number() {
  static std::uint32_t number = 1;
  return number;
}

}  // namespace

ScopedReleaseKeys::ScopedReleaseKeys(std::string keys, std::uint32_t releaseNumber)
    : previous_(std::move(Keys())), previousNumber_(Number()) {
  Keys() = std::move(keys);
  Number() = releaseNumber;
}

ScopedReleaseKeys::~ScopedReleaseKeys() {
  Keys() = std::move(previous_);
  Number() = previousNumber_;
}

}  // namespace testing_support

std::string_view BuiltInReleaseKeys() {
  return testing_support::Keys();
}

std::uint32_t BuiltInReleaseNumber() {
  return testing_support::Number();
}
