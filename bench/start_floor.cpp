// The least a program can do in the loader's place on a device that holds the client's files:
// test the six files and start the client as a new process, then end. The everyday start
// measures the loader against it, since no program that starts the client as a process of its
// own can be faster on the same machine.
// Usage: ferrovan-bench-start-floor   (the device root comes from FERROVAN_DEVICE_ROOT)
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

int main() {
  const char* root = std::getenv("FERROVAN_DEVICE_ROOT");
  if (root == nullptr || chdir(root) != 0) {
    return 1;
  }
  // The client comes last, so that path names it once every file has been found.
  const char* const files[] = {
      "Solvane.Mobile.Common.dll",
      "Solvane.Ferrovan.Mobile.Client.Business.dll",
      "Solvane.Ferrovan.Mobile.Client.Common.dll",
      "Solvane.Ferrovan.Mobile.Client.Data.dll",
      "Solvane.Ferrovan.Mobile.GUI.dll",
      "Solvane.FerroVan.Mobile.Client.exe",
  };
  char path[4096];
  for (const char* file : files) {
    std::snprintf(path, sizeof path, "Program Files/FerroVanMobile/%s", file);
    struct stat info;
    if (stat(path, &info) != 0) {
      return 1;
    }
  }
  char newLoader[] = "-NewLoader";
  char* arguments[] = {path, newLoader, nullptr};
  pid_t client;
  return posix_spawn(&client, path, nullptr, nullptr, arguments, environ) == 0 ? 0 : 1;
}
