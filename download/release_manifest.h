// The release manifest, FerroVan.Mobile.Release: one signed text file on the download service that
// names every file of one release with its size and BLAKE2b-512 digest, and the release's number.
// A publisher can write it with standard tools:
//
//   ferrovan-release 1
//   release 42
//   expires 2027-06-30T00:00:00Z                        (optional)
//   file FerroVan.Mobile.Client.Load.exe 11990232 <128 lowercase hex digits>
//   ...
//
// Every line ends in "\n", or every line in "\r\n"; fields are separated by single blanks. The
// parser takes exactly that and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "download/minisign.h"

inline constexpr const wchar_t* kReleaseManifestName = L"FerroVan.Mobile.Release";
inline constexpr std::size_t kReleaseManifestMaxBytes = 16 * 1024;
// The newest loader, the client's six files and the two message packages.
inline constexpr std::size_t kReleaseMaxFiles = 9;

struct ReleaseFileLine {
  std::size_t name;  // index into the names the manifest was parsed against
  std::uint64_t size;
  std::uint8_t digest[kFileDigestBytes];
};

struct ReleaseManifest {
  std::uint32_t release;
  bool expires;
  std::int64_t expiresAt;  // seconds since 1970-01-01T00:00:00Z, when expires
  ReleaseFileLine files[kReleaseMaxFiles];
  std::size_t fileCount;
};

// Parses text strictly. names are the files a release may list (at most kReleaseMaxFiles,
// compared exactly); the first requiredCount of them must all be listed. False for anything
// else, with manifest then undefined.
bool ParseReleaseManifest(std::string_view text, std::span<const wchar_t* const> names,
                          std::size_t requiredCount, ReleaseManifest& manifest);

// The line of the file names[name]; null when the manifest does not list it.
const ReleaseFileLine* FindReleaseFile(const ReleaseManifest& manifest, std::size_t name);

// Seconds since 1970-01-01T00:00:00Z of a valid UTC time; false for an invalid date or time.
// 64-bit throughout, so that dates past 2038 hold where time_t has 32 bits.
bool UtcSeconds(std::int64_t year, int month, int day, int hour, int minute, int second,
                std::int64_t& seconds);
