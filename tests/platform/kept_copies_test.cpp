// The record of a kept copy, which a download reads back from the device's Temp folder: what is
// written reads back the same, and nothing else is taken for a record.
#include "platform/common/kept_copies.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::FormatKeptRecord;
using platform::KeptRecord;
using platform::ParseKeptRecord;

const std::string kDigest(64, 'a');

KeptRecord Sample() {
  KeptRecord record;
  record.url = "http://127.0.0.1:8080/FerroVanService/WebService/Downloads/Client.exe";
  record.etag = "\"5d-1f\"";
  record.lastModified = "Thu, 10 Dec 2026 06:49:34 GMT";
  record.size = 700000;
  record.digest = kDigest;
  return record;
}

TEST(KeptRecordTest, ReadsBackWhatWasWrittenAndNothingElse) {
  const std::string written = FormatKeptRecord(Sample());
  KeptRecord read;
  ASSERT_TRUE(ParseKeptRecord(written, read));
  EXPECT_EQ(FormatKeptRecord(read), written);

  KeptRecord onlyDate = Sample();
  onlyDate.etag.clear();
  EXPECT_TRUE(ParseKeptRecord(FormatKeptRecord(onlyDate), read));

  const auto with = [&](const std::string& from, const std::string& to) {
    std::string text = written;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const struct {
    const char* what;
    std::string text;
  } refused[] = {
      {"empty", ""},
      {"another version", with("ferrovan-kept 1", "ferrovan-kept 2")},
      {"no validator",
       with("etag \"5d-1f\"\nmodified Thu, 10 Dec 2026 06:49:34 GMT", "etag \nmodified ")},
      {"a size with a leading zero", with("size 700000", "size 0700000")},
      {"a size that is no number", with("size 700000", "size 7e5")},
      {"a size past 64 bits", with("size 700000", "size 99999999999999999999")},
      {"a short digest", with(kDigest, kDigest.substr(1))},
      {"a digest in capitals", with(kDigest, std::string(64, 'A'))},
      {"lines out of order", with("url ", "uri ")},
      {"a line more", written + "extra 1\n"},
      {"no last line end", written.substr(0, written.size() - 1)},
      {"a carriage return", with("size 700000\n", "size 700000\r\n")},
      {"too long", with("url http", "url " + std::string(5000, 'h') + "http")},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ParseKeptRecord(c.text, read));
  }

  KeptRecord twoLines = Sample();
  twoLines.url += "\nsize 1";
  EXPECT_EQ(FormatKeptRecord(twoLines), "") << "a value that would end its line is not written";
}

}  // namespace
