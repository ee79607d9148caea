// The publisher's public keys built into this program: minisign public-key text (one or more
// keys), or empty when the program was built without any (FERROVAN_RELEASE_KEYS). Each program
// carries its own definition, made by the build.
#pragma once

#include <string_view>

std::string_view BuiltInReleaseKeys();
