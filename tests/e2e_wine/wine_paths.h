// Paths and places of the Windows loader's tests under Wine.
#pragma once

#include <string>

namespace testing_support {

// An environment variable's value; empty when unset.
std::string EnvironmentValue(const char* name);
// The Windows build (FERROVAN_WINDOWS_BUILD_DIR) and the run's Wine prefix (FERROVAN_WINEPREFIX).
std::string WindowsBuild();
std::string WinePrefix();
// A host path as Wine's Windows programs see it: the Z: drive is the host's root.
std::string WinePath(const std::string& hostPath);
// Whether two Windows paths name the same file, compared as Windows compares them: without
// regard to case or to a closing separator.
bool SameWindowsPath(std::string a, std::string b);

}  // namespace testing_support
