// The release keys that the loader's logic trusts in the unit tests: none, unless a test names
// some for as long as a ScopedReleaseKeys lives.
#pragma once

#include <string>

namespace testing_support {

class ScopedReleaseKeys {
 public:
  explicit ScopedReleaseKeys(std::string keys);
  ~ScopedReleaseKeys();
  ScopedReleaseKeys(const ScopedReleaseKeys&) = delete;
  ScopedReleaseKeys& operator=(const ScopedReleaseKeys&) = delete;

 private:
  std::string previous_;
};

}  // namespace testing_support
