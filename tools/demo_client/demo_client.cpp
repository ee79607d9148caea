// Stands in for the line-of-business client (and, copied as WCELOAD.EXE, for the device's CAB
// installer). It records how it was started, one line per start, in DEVICE_ROOT/demo-client.log:
// its program file name, its working folder, FERROVAN_DEVICE_ROOT, then each argument, separated
// by tabs. It says the same on standard output and ends.
//
// With FERROVAN_DEMO_CLIENT_INVENTORY set (to anything but empty) it also appends one line per
// start to DEVICE_ROOT/demo-client.inventory that tells what its own folder held as it started:
// for each regular file, in name order, NAME:SIZE:HASH (HASH the 64-bit FNV-1a of the content,
// in hex), separated by tabs. Tests use it to see whether a client ever ran on missing or
// partly written files.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Describe(const std::string& path, const std::string& name) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return name + ":unreadable";
  }
  std::uint64_t hash = 0xcbf29ce484222325u;
  std::uint64_t size = 0;
  unsigned char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      hash = (hash ^ buffer[i]) * 0x100000001b3u;
    }
    size += got;
  }
  std::fclose(file);
  char text[64];
  std::snprintf(text, sizeof text, ":%llu:%016llx", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(hash));
  return name + text;
}

std::string Inventory(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* listing = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(listing)) {
      struct stat status {};
      const std::string path = folder + "/" + entry->d_name;
      if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        names.push_back(entry->d_name);
      }
    }
    closedir(listing);
  }
  std::sort(names.begin(), names.end());
  std::string line;
  for (const std::string& name : names) {
    line += (line.empty() ? "" : "\t") + Describe(folder + "/" + name, name);
  }
  return line;
}

void Append(const std::string& path, const std::string& line) {
  if (FILE* file = std::fopen(path.c_str(), "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* name = std::strrchr(argv[0], '/');
  name = name != nullptr ? name + 1 : argv[0];
  char cwd[PATH_MAX] = "";
  if (getcwd(cwd, sizeof cwd) == nullptr) {
    std::strcpy(cwd, "?");
  }
  const char* root = std::getenv("FERROVAN_DEVICE_ROOT");
  std::string line = std::string(name) + "\t" + cwd + "\t" + (root != nullptr ? root : "");
  std::string shown;
  for (int i = 1; i < argc; ++i) {
    line += "\t";
    line += argv[i];
    shown += " ";
    shown += argv[i];
  }
  const std::string records = root != nullptr ? root : cwd;
  const char* inventory = std::getenv("FERROVAN_DEMO_CLIENT_INVENTORY");
  if (inventory != nullptr && *inventory != '\0') {
    const std::string program = argv[0];
    const std::size_t slash = program.rfind('/');
    Append(records + "/demo-client.inventory",
           Inventory(slash == std::string::npos ? std::string(cwd) : program.substr(0, slash)));
  }
  Append(records + "/demo-client.log", line);
  std::printf("%s started with:%s\n", name, shown.empty() ? " (no arguments)" : shown.c_str());
  return 0;
}
