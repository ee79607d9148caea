// The release manifest's grammar, taken exactly: what a publisher's script writes is accepted,
// and each way of bending it is refused.
#include "download/release_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t* const kNames[] = {L"Load.exe", L"One.dll", L"Two.exe", L"Messages.cab"};
constexpr std::size_t REQUIRED = 3;
const std::string DIGEST(128, 'a');

std::string Line(const std::string& name, const std::string& size = "7") {
  return "file " + name + " " + size + " " + DIGEST;
}

// A valid manifest of the three required files, with extra lines after them.
std::string Manifest(const std::string& extra = "", const std::string& eol = "\n") {
  return "ferrovan-release 1" + eol + "release 42" + eol + Line("Load.exe") + eol +
         Line("One.dll") + eol + Line("Two.exe") + eol + extra;
}

bool Parses(const std::string& text, ReleaseManifest& manifest) {
  return ParseReleaseManifest(text, kNames, REQUIRED, manifest);
}

TEST(ReleaseManifestTest, TakesWhatThePublisherWrites) {
  ReleaseManifest manifest;
  ASSERT_TRUE(Parses(Manifest(), manifest));
  EXPECT_EQ(manifest.release, 42u);
  EXPECT_FALSE(manifest.expires);
  EXPECT_EQ(manifest.fileCount, 3u);
  const ReleaseFileLine* one = FindReleaseFile(manifest, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->size, 7u);
  EXPECT_EQ(one->digest[0], 0xaa);
  EXPECT_EQ(FindReleaseFile(manifest, 3), nullptr) << "the package is not listed";

  const std::string withAll =
      "ferrovan-release 1\r\nrelease 4294967295\r\nexpires 2040-02-29T23:59:59Z\r\n" +
      Line("Two.exe", "9223372036854775807") + "\r\n" + Line("Messages.cab", "0") + "\r\n" +
      Line("One.dll") + "\r\n" + Line("Load.exe") + "\r\n";
  ASSERT_TRUE(Parses(withAll, manifest));
  EXPECT_EQ(manifest.release, 4294967295u);
  EXPECT_TRUE(manifest.expires);
  EXPECT_EQ(manifest.expiresAt, 2214172799);  // past 2038, on every build
  EXPECT_EQ(FindReleaseFile(manifest, 2)->size, 9223372036854775807u);
  EXPECT_EQ(FindReleaseFile(manifest, 3)->size, 0u);
}

TEST(ReleaseManifestTest, RefusesEveryOtherText) {
  const std::string eol = "\n";
  const std::string head = "ferrovan-release 1\nrelease 42\n";
  const std::string files = Line("Load.exe") + eol + Line("One.dll") + eol + Line("Two.exe") + eol;
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"another version", "ferrovan-release 2\nrelease 42\n" + files},
      {"no release line", "ferrovan-release 1\n" + files},
      {"release 0", "ferrovan-release 1\nrelease 0\n" + files},
      {"a leading zero", "ferrovan-release 1\nrelease 042\n" + files},
      {"release past 32 bits", "ferrovan-release 1\nrelease 4294967296\n" + files},
      {"a sign", "ferrovan-release 1\nrelease +42\n" + files},
      {"the last line unended", Manifest().substr(0, Manifest().size() - 1)},
      {"mixed line ends", "ferrovan-release 1\r\nrelease 42\n" + files},
      {"a stray carriage return", "ferrovan-release 1\nrelease 42\r\n" + files},
      {"a blank line", Manifest("\n")},
      {"a comment", Manifest("# comment\n")},
      {"an unknown key", Manifest("signer me\n")},
      {"a file twice", Manifest(Line("One.dll") + "\n")},
      {"an unknown file", Manifest(Line("Other.dll") + "\n")},
      {"a name in another case", Manifest(Line("messages.cab") + "\n")},
      {"a required file missing", head + Line("Load.exe") + eol + Line("One.dll") + eol},
      {"two blanks", Manifest("file Messages.cab  7 " + DIGEST + "\n")},
      {"a trailing blank", Manifest(Line("Messages.cab") + " \n")},
      {"a leading blank", Manifest(" " + Line("Messages.cab") + "\n")},
      {"a tab", Manifest("file\tMessages.cab 7 " + DIGEST + "\n")},
      {"a size with a leading zero", Manifest(Line("Messages.cab", "07") + "\n")},
      {"a size past 2^63-1", Manifest(Line("Messages.cab", "9223372036854775808") + "\n")},
      {"a negative size", Manifest(Line("Messages.cab", "-1") + "\n")},
      {"an uppercase digest", Manifest("file Messages.cab 7 " + std::string(128, 'A') + "\n")},
      {"a short digest", Manifest("file Messages.cab 7 " + std::string(127, 'a') + "\n")},
      {"a long digest", Manifest("file Messages.cab 7 " + std::string(129, 'a') + "\n")},
      {"expires after the files", Manifest("expires 2030-01-01T00:00:00Z\n")},
      {"expires twice",
       "ferrovan-release 1\nrelease 1\nexpires 2030-01-01T00:00:00Z\nexpires "
       "2030-01-01T00:00:00Z\n" +
           files},
      {"an invalid date", head.substr(0, head.size()) + "expires 2031-02-29T00:00:00Z\n" + files},
      {"an hour of 24", "ferrovan-release 1\nrelease 1\nexpires 2030-01-01T24:00:00Z\n" + files},
      {"no zone", "ferrovan-release 1\nrelease 1\nexpires 2030-01-01T00:00:00\n" + files},
      {"another zone",
       "ferrovan-release 1\nrelease 1\nexpires 2030-01-01T00:00:00+01:00\n" + files},
      {"a leap second", "ferrovan-release 1\nrelease 1\nexpires 2030-06-30T23:59:60Z\n" + files},
      {"larger than 16 KiB", Manifest(std::string(16 * 1024, 'x'))},
      {"a NUL inside", std::string("ferrovan-release 1\nrelease 4\0"
                                   "2\n",
                                   32) +
                           files},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReleaseManifest manifest;
    EXPECT_FALSE(Parses(c.text, manifest));
  }
}

TEST(ReleaseManifestTest, UtcSecondsCountsFromTheEpochBothWaysOf2038) {
  struct Case {
    int year, month, day, hour, minute, second;
    std::int64_t seconds;
  } cases[] = {
      {1970, 1, 1, 0, 0, 0, 0},
      {2000, 2, 29, 12, 0, 0, 951825600},
      {2038, 1, 19, 3, 14, 8, 2147483648},  // one past a signed 32-bit time_t
      {2106, 2, 7, 6, 28, 16, 4294967296},  // one past an unsigned one
      {9999, 12, 31, 23, 59, 59, 253402300799},
      {1969, 12, 31, 23, 59, 59, -1},
  };
  for (const Case& c : cases) {
    std::int64_t seconds = 0;
    ASSERT_TRUE(UtcSeconds(c.year, c.month, c.day, c.hour, c.minute, c.second, seconds));
    EXPECT_EQ(seconds, c.seconds) << c.year;
  }
  std::int64_t seconds = 0;
  EXPECT_FALSE(UtcSeconds(1900, 2, 29, 0, 0, 0, seconds));
  EXPECT_FALSE(UtcSeconds(2024, 4, 31, 0, 0, 0, seconds));
  EXPECT_FALSE(UtcSeconds(2024, 13, 1, 0, 0, 0, seconds));
}

}  // namespace
