#include "program/version_text.h"

#include <algorithm>
#include <cstdio>

#include "download/minisign.h"
#include "download/release_keys.h"

namespace program {

std::string VersionText(const char* programName, const char* version) {
  std::string text = std::string(programName) + " " + version + "\n";
  text += "release " + std::to_string(BuiltInReleaseNumber()) + "\n";
  MinisignKey keys[kMaxReleaseKeys];
  std::size_t count = 0;
  if (BuiltInReleaseKeys().empty() || !ParseMinisignKeys(BuiltInReleaseKeys(), keys, count)) {
    return text + "release keys: none (releases are not checked)\n";
  }
  text += "release keys:";
  for (std::size_t i = 0; i < count; ++i) {
    // minisign shows a key id as a little-endian number, in hexadecimal without leading zeros.
    char id[2 * kMinisignKeyIdBytes + 1];
    for (std::size_t byte = 0; byte < kMinisignKeyIdBytes; ++byte) {
      std::snprintf(id + 2 * byte, 3, "%02X", keys[i].keyId[kMinisignKeyIdBytes - 1 - byte]);
    }
    const std::string digits(id);
    const std::size_t first = std::min(digits.find_first_not_of('0'), digits.size() - 1);
    text += " " + digits.substr(first);
  }
  return text + "\n";
}

}  // namespace program
