// The names of the download copies that every host keeps in the device's Temp folder until the
// loader moves them into place: "ferrovan-cache." + a random part + "-" + the fetched file's name.
// A loader killed mid-download leaves its copy behind; the prefix is how the next one finds it.
#pragma once

#include <string>

namespace platform {

inline constexpr char kCacheFilePrefix[] = "ferrovan-cache.";

// What a copy of url is named after: the last part of the address's path, at most 100
// characters, each but a letter, digit, '.', '-' or '_' made '_'; "download" when that leaves
// nothing of use.
std::string CacheFileNameFor(const wchar_t* url);

}  // namespace platform
