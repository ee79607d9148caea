#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/device_root.h"
#include "platform/host.h"
#include "platform/linux/stored_files.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string MakeAbsolute(std::string_view folder) {
  // An empty text names the current folder, never the host's top folder.
  const fs::path given = folder.empty() ? fs::path(".") : fs::path(folder);
  std::error_code error;
  fs::path path = fs::absolute(given, error);
  if (error) {
    path = given;
  }
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

std::string HomeFolder() {
  if (std::string home = EnvironmentText("HOME"); !home.empty()) {
    return home;
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return ".";
}

// The top folders of the system, which a device root must not be; the first ones hold the system
// itself, so nothing inside them may be one either.
constexpr const char* kSystemTrees[] = {"/bin",   "/boot",   "/dev",  "/etc",  "/lib", "/lib32",
                                        "/lib64", "/libx32", "/proc", "/sbin", "/sys", "/usr"};
constexpr const char* kSystemFolders[] = {"/home", "/media", "/mnt", "/opt", "/root",
                                          "/run",  "/srv",   "/tmp", "/var"};

bool IsInside(const std::string& path, std::string_view tree) {
  return path == tree ||
         (path.size() > tree.size() && path.starts_with(tree) && path[tree.size()] == '/');
}

// A mount point lies on another file system than the folder above it.
bool IsMountPoint(const std::string& folder) {
  struct stat self {};
  struct stat parent {};
  return ::stat(folder.c_str(), &self) == 0 && ::stat((folder + "/..").c_str(), &parent) == 0 &&
         self.st_dev != parent.st_dev;
}

}  // namespace

std::string EnvironmentText(const char* name) {
  // An empty variable counts as unset, as shells and the XDG rules treat it.
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string FolderAroundInstallFolder(const std::string& programPath) {
  if (programPath.empty()) {
    return {};
  }
  const fs::path installFolder = fs::path(MakeAbsolute(programPath)).parent_path();
  const fs::path programFiles = installFolder.parent_path();
  if (installFolder.filename() != "FerroVanMobile" || programFiles.filename() != "Program Files") {
    return {};
  }
  return programFiles.parent_path().string();
}

std::string DefaultDeviceRootFolder() {
  // The XDG rules ignore a relative XDG_DATA_HOME.
  std::string dataHome = EnvironmentText("XDG_DATA_HOME");
  if (dataHome.empty() || dataHome[0] != '/') {
    dataHome = HomeFolder() + "/.local/share";
  }
  return dataHome + "/ferrovan/device";
}

bool IsSystemFolder(const std::string& folder) {
  if (folder == "/" || folder == MakeAbsolute(HomeFolder())) {
    return true;
  }
  for (const char* tree : kSystemTrees) {
    if (IsInside(folder, tree)) {
      return true;
    }
  }
  for (const char* system : kSystemFolders) {
    if (folder == system) {
      return true;
    }
  }
  return false;
}

bool IsMountedVolumeTop(const std::string& folder) {
  return IsMountPoint(folder);
}

std::string AbsoluteHostFolder(std::string_view folder) {
  return MakeAbsolute(folder);
}

char HostPathSeparator() {
  return '/';
}

namespace {

bool MakeFolderTreeWithMode(const std::string& folder, mode_t mode) {
  std::error_code error;
  if (fs::is_directory(folder, error)) {
    return true;
  }
  const fs::path path(folder);
  if (path.has_parent_path() && path.parent_path() != path &&
      !MakeFolderTreeWithMode(path.parent_path(), 0777)) {
    return false;
  }
  return MakeStoredFolder(folder, mode) || fs::is_directory(folder, error);
}

}  // namespace

// The folder itself is its owner's alone: another user who could enter it could take the
// device's lock or read what the loader keeps there.
bool MakeFolderTree(const std::string& folder) {
  return MakeFolderTreeWithMode(folder, 0700);
}

void MakeFolder(const std::string& folder) {
  MakeStoredFolder(folder);
}

}  // namespace platform
