// How fast this machine takes the BLAKE2b-512 that a signed release's files are checked with,
// through the loader's own digest, in the pieces a download hands it: the floor under a signed
// installation, which cannot end before every byte is hashed, however the hash is placed beside
// the transfer.
//
//   ferrovan-bench-hash [MIB]      (default 256) prints "MB/s SECONDS_FOR_MIB"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "download/file_check.h"

int main(int argc, char** argv) {
  const long mebibytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  if (mebibytes <= 0) {
    std::fprintf(stderr, "usage: ferrovan-bench-hash [MIB]\n");
    return 2;
  }
  std::vector<std::uint8_t> piece(256 * 1024);
  for (std::size_t i = 0; i < piece.size(); ++i) {
    piece[i] = static_cast<std::uint8_t>(i * 131 + 7);
  }
  FileDigest digest;
  const auto started = std::chrono::steady_clock::now();
  for (long i = 0; i < mebibytes * 4; ++i) {
    digest.Add(piece);
  }
  std::uint8_t result[kFileDigestBytes];
  digest.Finish(result);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%.0f %.3f\n", static_cast<double>(mebibytes) * 1048576 / seconds / 1e6, seconds);
  return result[0] == 0 && result[1] == 0 ? 1 : 0;  // keeps the digest from being left out
}
