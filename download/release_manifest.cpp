#include "download/release_manifest.h"

#include <cstring>

namespace {

constexpr std::string_view kMagicLine = "ferrovan-release 1";
constexpr std::uint64_t kMaxSize = 0x7FFFFFFFFFFFFFFFull;

// Takes the next line off text: it must end in eol, which the first line decided.
bool NextLine(std::string_view& text, std::string_view eol, std::string_view& line) {
  const std::size_t end = text.find(eol);
  if (end == std::string_view::npos) {
    return false;
  }
  line = text.substr(0, end);
  text.remove_prefix(end + eol.size());
  // A "\n" file with a stray "\r" (or a "\r\n" file with a bare "\n") is malformed.
  return line.find_first_of("\r\n") == std::string_view::npos;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal without leading zeros ("0" itself allowed), at most max.
bool ParseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) {
      return false;
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) {
      return false;
    }
    value = value * 10 + digit;
  }
  return true;
}

// Exactly count digits.
bool FixedDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) {
      return false;
    }
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// YYYY-MM-DDTHH:MM:SSZ
bool ParseUtcTime(std::string_view text, std::int64_t& seconds) {
  constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
  if (text.size() != kShape.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] != '0' && text[i] != kShape[i]) {
      return false;
    }
  }
  int year, month, day, hour, minute, second;
  return FixedDigits(text, 0, 4, year) && FixedDigits(text, 5, 2, month) &&
         FixedDigits(text, 8, 2, day) && FixedDigits(text, 11, 2, hour) &&
         FixedDigits(text, 14, 2, minute) && FixedDigits(text, 17, 2, second) &&
         UtcSeconds(year, month, day, hour, minute, second, seconds);
}

int HexValue(char c) {
  if (IsDigit(c)) {
    return c - '0';
  }
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool ParseDigest(std::string_view text, std::uint8_t (&digest)[kFileDigestBytes]) {
  if (text.size() != kFileDigestBytes * 2) {
    return false;
  }
  for (std::size_t i = 0; i < kFileDigestBytes; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    digest[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

// Whether the narrow field is the wide name exactly; the names are plain ASCII.
bool SameName(std::string_view field, const wchar_t* name) {
  std::size_t i = 0;
  for (; i < field.size(); ++i) {
    if (name[i] == L'\0' || static_cast<unsigned char>(field[i]) > 0x7F ||
        static_cast<wchar_t>(field[i]) != name[i]) {
      return false;
    }
  }
  return name[i] == L'\0';
}

// Splits off the field up to the next blank; the last field has none after it.
bool NextField(std::string_view& line, std::string_view& field, bool last) {
  const std::size_t blank = line.find(' ');
  if (last) {
    field = line;
    line = {};
    return blank == std::string_view::npos && !field.empty();
  }
  if (blank == std::string_view::npos || blank == 0) {
    return false;
  }
  field = line.substr(0, blank);
  line.remove_prefix(blank + 1);
  return true;
}

bool ParseFileLine(std::string_view line, std::span<const wchar_t* const> names,
                   ReleaseManifest& manifest) {
  std::string_view keyword, name, size, digest;
  if (!NextField(line, keyword, false) || keyword != "file" || !NextField(line, name, false) ||
      !NextField(line, size, false) || !NextField(line, digest, true)) {
    return false;
  }
  std::size_t index = 0;
  while (index < names.size() && !SameName(name, names[index])) {
    ++index;
  }
  if (index == names.size() || FindReleaseFile(manifest, index) != nullptr ||
      manifest.fileCount == kReleaseMaxFiles) {
    return false;
  }
  ReleaseFileLine& file = manifest.files[manifest.fileCount];
  file.name = index;
  if (!ParseDecimal(size, kMaxSize, file.size) || !ParseDigest(digest, file.digest)) {
    return false;
  }
  ++manifest.fileCount;
  return true;
}

}  // namespace

bool UtcSeconds(std::int64_t year, int month, int day, int hour, int minute, int second,
                std::int64_t& seconds) {
  constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59 || hour < 0 ||
      minute < 0 || second < 0) {
    return false;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0)) {
    return false;
  }
  // Days from the civil date, counting years from March so that the leap day comes last.
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

const ReleaseFileLine* FindReleaseFile(const ReleaseManifest& manifest, std::size_t name) {
  for (std::size_t i = 0; i < manifest.fileCount; ++i) {
    if (manifest.files[i].name == name) {
      return &manifest.files[i];
    }
  }
  return nullptr;
}

bool ParseReleaseManifest(std::string_view text, std::span<const wchar_t* const> names,
                          std::size_t requiredCount, ReleaseManifest& manifest) {
  std::memset(&manifest, 0, sizeof manifest);
  if (text.size() > kReleaseManifestMaxBytes || names.size() > kReleaseMaxFiles ||
      requiredCount > names.size() || !text.starts_with(kMagicLine)) {
    return false;
  }
  const std::string_view afterMagic = text.substr(kMagicLine.size());
  const std::string_view eol = afterMagic.starts_with("\r\n") ? "\r\n" : "\n";
  std::string_view line;
  if (!NextLine(text, eol, line) || line != kMagicLine || !NextLine(text, eol, line) ||
      !line.starts_with("release ")) {
    return false;
  }
  std::uint64_t release = 0;
  if (!ParseDecimal(line.substr(8), 0xFFFFFFFFull, release) || release == 0) {
    return false;
  }
  manifest.release = static_cast<std::uint32_t>(release);
  bool first = true;
  while (!text.empty()) {
    if (!NextLine(text, eol, line)) {
      return false;
    }
    if (first && line.starts_with("expires ")) {
      if (!ParseUtcTime(line.substr(8), manifest.expiresAt)) {
        return false;
      }
      manifest.expires = true;
    } else if (!ParseFileLine(line, names, manifest)) {
      return false;
    }
    first = false;
  }
  for (std::size_t i = 0; i < requiredCount; ++i) {
    if (FindReleaseFile(manifest, i) == nullptr) {
      return false;
    }
  }
  return true;
}
