// What a program was built to trust: the publisher's public keys, as minisign public-key text
// (one or more keys), or empty when the program was built without any (FERROVAN_RELEASE_KEYS);
// and its own release number (FERROVAN_RELEASE_NUMBER), below which it takes no release. Each
// program carries its own definitions, made by the build.
#pragma once

#include <cstdint>
#include <string_view>

std::string_view BuiltInReleaseKeys();
std::uint32_t BuiltInReleaseNumber();
