// platform::MatchesWildcard against a plain dynamic-programming matcher of the same rules.
// Input: the pattern, a line break, the name (UTF-8).
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// '*' matches any run of characters, '?' exactly one, anything else itself.
bool Glob(std::wstring_view pattern, std::wstring_view name) {
  // matches[j]: the pattern's first i characters match the name's first j.
  std::vector<bool> matches(name.size() + 1, false);
  matches[0] = true;
  for (wchar_t p : pattern) {
    std::vector<bool> next(name.size() + 1, false);
    for (std::size_t j = 0; j <= name.size(); ++j) {
      if (p == L'*') {
        next[j] = matches[j] || (j > 0 && next[j - 1]);
      } else if (j > 0) {
        next[j] = matches[j - 1] && (p == L'?' || p == name[j - 1]);
      }
    }
    matches.swap(next);
  }
  return matches[name.size()];
}

// A trailing ".*" also matches names without that dot, as on the device.
bool Reference(std::wstring_view pattern, std::wstring_view name) {
  return Glob(pattern, name) ||
         (pattern.ends_with(L".*") && Glob(pattern.substr(0, pattern.size() - 2), name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [patternText, nameText] = fuzzing::SplitLine(fuzzing::Bytes(data, size));
  std::wstring pattern = fuzzing::Wide(patternText);
  std::wstring name = fuzzing::Wide(nameText);
  // The matcher sees zero-terminated texts: an embedded terminator ends them.
  pattern.resize(std::wcslen(pattern.c_str()));
  name.resize(std::wcslen(name.c_str()));
  // Names and patterns of a device are at most a path long; longer ones only slow the check.
  if (pattern.size() > 600 || name.size() > 600) {
    return -1;
  }
  const bool matched = platform::MatchesWildcard(pattern.c_str(), name.c_str());
  fuzzing::Check(matched == Reference(pattern, name),
                 matched ? "matched, but the rules say it does not" : "missed a match",
                 pattern + L"  |  " + name);
  return 0;
}
