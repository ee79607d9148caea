// What --version prints, the same on every host: the version, the release number below which
// the program takes no release, and the release keys it trusts, by the ids minisign shows.
#pragma once

#include <string>

namespace program {

std::string VersionText(const char* programName, const char* version);

}  // namespace program
