// The names of the new files that each host's small-file replacement writes beside a file
// before it moves one over it: "." + the file's name + "." + a random part + ".tmp". A loader
// that died before the move leaves one behind; the shape is how the next one knows it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace platform {

// The random part of the hosts' new file names: lower-case letters and digits.
inline constexpr std::size_t kRandomNameLength = 12;
// How much of the file's name goes into a replacement's name (in the host's name units), well
// inside the file system's name limit.
inline constexpr std::size_t kMaxReplacementStem = 100;

// Whether tail, what follows "." + name + "." in a name, is a random part and ".tmp".
template <class Char>
bool IsReplacementTail(std::basic_string_view<Char> tail) {
  constexpr Char kSuffix[] = {'.', 't', 'm', 'p'};
  const std::basic_string_view<Char> suffix(kSuffix, 4);
  if (tail.size() != kRandomNameLength + suffix.size() || !tail.ends_with(suffix)) {
    return false;
  }
  const std::basic_string_view<Char> random = tail.substr(0, kRandomNameLength);
  return std::all_of(random.begin(), random.end(),
                     [](Char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

}  // namespace platform
