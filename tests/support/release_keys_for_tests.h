// The release keys that the loader's logic trusts in the unit tests, and its release number: no
// key and release 1, unless a test names others for as long as a ScopedReleaseKeys lives.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

class ScopedReleaseKeys {
 public:
  explicit ScopedReleaseKeys(std::string keys, std::uint32_t releaseNumber = 1);
  ~ScopedReleaseKeys();
  ScopedReleaseKeys(const ScopedReleaseKeys&) = delete;
  ScopedReleaseKeys& operator=(const ScopedReleaseKeys&) = delete;

 private:
  std::string previous_;
  std::uint32_t previousNumber_;
};

}  // namespace testing_support
