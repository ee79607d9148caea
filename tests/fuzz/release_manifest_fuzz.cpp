// The release manifest's parser against a plain reading of its grammar written here with
// regular expressions and the standard calendar: both must take exactly the same texts, to the
// same release, expiry and lines. Input: any bytes, read as a manifest.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "download/release_manifest.h"
#include "loader/loader_context.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const wchar_t* const kNames[] = {L"FerroVan.Mobile.Client.Load.exe",
                                 kRequiredFiles[0],
                                 kRequiredFiles[1],
                                 kRequiredFiles[2],
                                 kRequiredFiles[3],
                                 kRequiredFiles[4],
                                 kRequiredFiles[5],
                                 kMessagesPackages[0],
                                 kMessagesPackages[1]};
constexpr std::size_t REQUIRED = 7;

struct Expected {
  std::uint32_t release = 0;
  std::optional<std::int64_t> expiresAt;
  // (name index, size, digest in hex)
  std::vector<std::tuple<std::size_t, std::uint64_t, std::string>> files;
};

std::string Narrow(const wchar_t* name) {
  std::string text;
  for (; *name != L'\0'; ++name) {
    text += static_cast<char>(*name);
  }
  return text;
}

// A decimal of at most max, given as text without leading zeros.
bool AtMost(const std::string& digits, const std::string& max) {
  return digits.size() < max.size() || (digits.size() == max.size() && digits <= max);
}

std::optional<Expected> Read(std::string_view input) {
  if (input.size() > 16 * 1024) {
    return std::nullopt;
  }
  std::vector<std::string> lines;
  std::string text(input);
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      return std::nullopt;  // the last line unended
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (lines.empty()) {
    return std::nullopt;
  }
  const bool crlf = !lines[0].empty() && lines[0].back() == '\r';
  for (std::string& line : lines) {
    if (crlf) {
      if (line.empty() || line.back() != '\r') {
        return std::nullopt;
      }
      line.pop_back();
    }
    if (line.find('\r') != std::string::npos) {
      return std::nullopt;
    }
  }
  static const std::regex release("release ([1-9][0-9]*)");
  static const std::regex expires(
      "expires ([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})Z");
  static const std::regex file("file ([^ ]+) (0|[1-9][0-9]*) ([0-9a-f]{128})");
  std::smatch match;
  if (lines[0] != "ferrovan-release 1" || lines.size() < 2 ||
      !std::regex_match(lines[1], match, release) || !AtMost(match[1], "4294967295")) {
    return std::nullopt;
  }
  Expected expected;
  expected.release = static_cast<std::uint32_t>(std::stoull(match[1]));
  std::size_t next = 2;
  if (lines.size() > 2 && std::regex_match(lines[2], match, expires)) {
    using namespace std::chrono;
    const year_month_day date{year{std::stoi(match[1])}, month{unsigned(std::stoi(match[2]))},
                              day{unsigned(std::stoi(match[3]))}};
    const int hour = std::stoi(match[4]), minute = std::stoi(match[5]),
              second = std::stoi(match[6]);
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) {
      return std::nullopt;
    }
    expected.expiresAt =
        static_cast<std::int64_t>(sys_days(date).time_since_epoch().count()) * 86400 + hour * 3600 +
        minute * 60 + second;
    next = 3;
  }
  std::set<std::size_t> seen;
  for (; next < lines.size(); ++next) {
    if (!std::regex_match(lines[next], match, file) || !AtMost(match[2], "9223372036854775807")) {
      return std::nullopt;
    }
    std::size_t index = 0;
    while (index < std::size(kNames) && Narrow(kNames[index]) != match[1].str()) {
      ++index;
    }
    if (index == std::size(kNames) || !seen.insert(index).second) {
      return std::nullopt;
    }
    expected.files.emplace_back(index, std::stoull(match[2]), match[3].str());
  }
  for (std::size_t i = 0; i < REQUIRED; ++i) {
    if (seen.count(i) == 0) {
      return std::nullopt;
    }
  }
  return expected;
}

std::string Hex(const std::uint8_t (&digest)[kFileDigestBytes]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzzing::Bytes(data, size);
  ReleaseManifest manifest;
  const bool parsed = ParseReleaseManifest(input, kNames, REQUIRED, manifest);
  const std::optional<Expected> expected = Read(input);
  fuzzing::Check(parsed == expected.has_value(),
                 parsed ? "a manifest off the grammar was taken" : "a good manifest was refused");
  if (!parsed) {
    return 0;
  }
  fuzzing::Check(manifest.release == expected->release, "another release number");
  fuzzing::Check(manifest.expires == expected->expiresAt.has_value() &&
                     (!manifest.expires || manifest.expiresAt == *expected->expiresAt),
                 "another expiry");
  fuzzing::Check(manifest.fileCount == expected->files.size(), "another number of files");
  for (const auto& [index, fileSize, digest] : expected->files) {
    const ReleaseFileLine* line = FindReleaseFile(manifest, index);
    fuzzing::Check(line != nullptr && line->size == fileSize && Hex(line->digest) == digest,
                   "another line for a file", kNames[index]);
  }
  return 0;
}
