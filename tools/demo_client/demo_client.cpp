// Stands in for the line-of-business client (and, copied as WCELOAD.EXE, for the device's CAB
// installer). It records how it was started, one line per start, in DEVICE_ROOT/demo-client.log:
// its program file name, its working folder, FERROVAN_DEVICE_ROOT, then each argument, separated
// by tabs. It says the same on standard output and ends.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
  std::string log = std::string(root != nullptr ? root : cwd) + "/demo-client.log";
  if (FILE* file = std::fopen(log.c_str(), "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
  std::printf("%s started with:%s\n", name, shown.empty() ? " (no arguments)" : shown.c_str());
  return 0;
}
