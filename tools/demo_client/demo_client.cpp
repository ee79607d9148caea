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
//
// With FERROVAN_DEMO_CLIENT_STAY set to a number of seconds, it stays that long before it ends,
// as a client in use would, so that a test can see a loader stop it.
//
// It builds for Linux and for Windows alike; on Windows the folders it records are Windows paths.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Linux takes only /; Windows takes either.
constexpr const char* kSeparators = std::filesystem::path::preferred_separator == '/' ? "/" : "/\\";

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
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end;
       it.increment(error)) {
    // Follows links, as stat does: a link to a regular file counts as one.
    std::error_code statusError;
    if (fs::is_regular_file(it->path(), statusError)) {
      names.push_back(it->path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  std::string line;
  for (const std::string& name : names) {
    line += (line.empty() ? "" : "\t") + Describe(folder + "/" + name, name);
  }
  return line;
}

// The folder part and the file name of a program path, with either separator.
std::size_t LastSeparator(const std::string& path) {
  return path.find_last_of(kSeparators);
}

void Append(const std::string& path, const std::string& line) {
  if (FILE* file = std::fopen(path.c_str(), "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argv[0];
  const std::size_t slash = LastSeparator(program);
  const std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
  std::error_code error;
  std::string cwd = std::filesystem::current_path(error).string();
  if (error) {
    cwd = "?";
  }
  const char* root = std::getenv("FERROVAN_DEVICE_ROOT");
  std::string line = name + "\t" + cwd + "\t" + (root != nullptr ? root : "");
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
    Append(records + "/demo-client.inventory",
           Inventory(slash == std::string::npos ? cwd : program.substr(0, slash)));
  }
  Append(records + "/demo-client.log", line);
  std::printf("%s started with:%s\n", name.c_str(),
              shown.empty() ? " (no arguments)" : shown.c_str());
  std::fflush(stdout);
  if (const char* stay = std::getenv("FERROVAN_DEMO_CLIENT_STAY")) {
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(stay)));
  }
  return 0;
}
