#include "tests/e2e_wine/wine_paths.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace testing_support {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string WindowsBuild() {
  return EnvironmentValue("FERROVAN_WINDOWS_BUILD_DIR");
}

std::string WinePrefix() {
  return EnvironmentValue("FERROVAN_WINEPREFIX");
}

std::string WinePath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool SameWindowsPath(std::string a, std::string b) {
  for (std::string* path : {&a, &b}) {
    std::replace(path->begin(), path->end(), '/', '\\');
    while (path->size() > 3 && path->back() == '\\') {
      path->pop_back();
    }
    std::transform(path->begin(), path->end(), path->begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }
  return a == b;
}

}  // namespace testing_support
