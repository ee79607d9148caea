// A file checked against its release line as it streams, when its transfer starts again from the
// first byte: only the bytes after the restart count.
#include "download/file_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string_view>

#include <sodium.h>

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

ReleaseFileLine LineOf(std::string_view content) {
  ReleaseFileLine line{};
  line.size = content.size();
  EXPECT_EQ(sodium_init() >= 0, true);
  crypto_generichash(line.digest, sizeof line.digest, Bytes(content).data(), content.size(),
                     nullptr, 0);
  return line;
}

TEST(ReleaseFileCheckTest, ARestartForgetsWhatCameBefore) {
  const std::string_view file = "the whole file, as the release lists it";
  const struct {
    const char* what;
    std::string_view before;  // bytes seen before the restart
    std::string_view after;
    ReleaseFileCheck::Verdict verdict;
  } cases[] = {
      {"a prefix of the file, then the file", file.substr(0, 9), file,
       ReleaseFileCheck::Verdict::Matches},
      {"other bytes, then the file", "XXXXXXXXXXXXXXXXXXXXXXXXXX", file,
       ReleaseFileCheck::Verdict::Matches},
      {"the file, then a prefix of it", file, file.substr(0, 9),
       ReleaseFileCheck::Verdict::DiffersFromRelease},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ReleaseFileCheck check(LineOf(file), false);
    EXPECT_TRUE(check.Take(Bytes(c.before)));
    EXPECT_TRUE(check.Restart());
    EXPECT_EQ(check.Result(), ReleaseFileCheck::Verdict::Pending);
    // In two pieces, as a transfer brings them.
    EXPECT_TRUE(check.Take(Bytes(c.after.substr(0, 5))));
    EXPECT_TRUE(check.Take(Bytes(c.after.substr(5))));
    EXPECT_EQ(check.Complete(), c.verdict == ReleaseFileCheck::Verdict::Matches);
    EXPECT_EQ(check.Result(), c.verdict);
  }
}

}  // namespace
