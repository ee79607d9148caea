// A file system in memory, mounted with FUSE, that keeps apart what programs wrote and what
// storage would still hold after a power cut: a file's bytes reach storage only when the file is
// flushed (fsync), a folder's entries only when the folder is flushed. It counts the operations
// that change anything, and at a chosen one it loses power: it writes what storage kept to two
// folders and answers every later request with EIO.
//
//   ferrovan-powercut-fs IMAGE MOUNTPOINT OUT [--cut meta:N|write:N] [--ignore-file-flushes]
//
// IMAGE is the starting content, all of it on storage. The operations come in two kinds: "meta"
// is every change but a plain data write (create, mkdir, rename, unlink, truncate, flushes...),
// "write" the data writes; --cut N counts from 0 within its kind and cuts before that operation.
// OUT receives, at the cut or at the unmount when no cut came:
//   flushed/  what was flushed, and nothing else
//   folders/  every folder change kept (as if the journal had committed them), file bytes as
//             flushed
//   cut       what the cut came before ("end" when none came)
//   counts    "meta M write W", the operations seen
//   ops       the meta operations in order, one per line
// --ignore-file-flushes makes file flushes keep nothing, as for a writer that never flushes.
// The program prints "ready" once mounted.
#define FUSE_USE_VERSION 35

#include <fuse3/fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Node {
  std::uint64_t ino = 0;
  mode_t mode = 0;
  std::string data;     // as programs see it
  std::string durable;  // as flushed
  std::map<std::string, std::shared_ptr<Node>> entries;
  std::map<std::string, std::shared_ptr<Node>> durableEntries;
  bool IsFolder() const { return S_ISDIR(mode); }
};
using NodePtr = std::shared_ptr<Node>;

struct State {
  NodePtr root;
  std::uint64_t nextIno = 1;
  struct Opened {
    NodePtr node;
    std::string path;  // as opened, for the record of operations
  };
  std::map<std::uint64_t, Opened> handles;
  std::uint64_t nextHandle = 1;
  std::string cutKind;  // "meta", "write" or empty
  long cutIndex = -1;
  long metaCount = 0;
  long writeCount = 0;
  bool frozen = false;
  bool ignoreFileFlushes = false;
  std::string out;
  std::ostringstream ops;
};

State& S() {
  static State state;
  return state;
}

NodePtr NewNode(mode_t mode) {
  auto node = std::make_shared<Node>();
  node->ino = S().nextIno++;
  node->mode = mode;
  return node;
}

NodePtr Load(const fs::path& path) {
  const auto status = fs::symlink_status(path);
  if (fs::is_directory(status)) {
    NodePtr folder = NewNode(S_IFDIR | 0755);
    for (const auto& entry : fs::directory_iterator(path)) {
      folder->entries[entry.path().filename().string()] = Load(entry.path());
    }
    folder->durableEntries = folder->entries;
    return folder;
  }
  NodePtr file = NewNode(S_IFREG | (static_cast<mode_t>(status.permissions()) & 07777));
  std::ifstream in(path, std::ios::binary);
  file->data.assign(std::istreambuf_iterator<char>(in), {});
  file->durable = file->data;
  return file;
}

void Save(const Node& node, const fs::path& path, bool keptFolders) {
  if (node.IsFolder()) {
    fs::create_directories(path);
    for (const auto& [name, child] : keptFolders ? node.entries : node.durableEntries) {
      Save(*child, path / name, keptFolders);
    }
    return;
  }
  std::ofstream(path, std::ios::binary) << node.durable;
  fs::permissions(path, static_cast<fs::perms>(node.mode & 07777));
}

void Record(const char* what) {
  std::ofstream(S().out + "/cut") << what << "\n";
  std::ofstream(S().out + "/counts")
      << "meta " << S().metaCount << " write " << S().writeCount << "\n";
  std::ofstream(S().out + "/ops") << S().ops.str();
}

void LosePower(const std::string& before) {
  Save(*S().root, S().out + "/flushed", false);
  Save(*S().root, S().out + "/folders", true);
  Record(before.c_str());
  S().frozen = true;
}

// Counts a change of the given kind; false when power is lost before it (or was already).
bool Change(const char* kind, const std::string& what) {
  State& s = S();
  if (s.frozen) {
    return false;
  }
  long& count = std::strcmp(kind, "meta") == 0 ? s.metaCount : s.writeCount;
  const long index = count++;
  if (kind == s.cutKind && index == s.cutIndex) {
    LosePower(std::string(kind) + " " + std::to_string(index) + " " + what);
    return false;
  }
  if (std::strcmp(kind, "meta") == 0) {
    s.ops << index << " " << what << "\n";
  }
  return true;
}

std::vector<std::string> Split(const char* path) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* c = path; *c != '\0'; ++c) {
    if (*c == '/') {
      if (!part.empty()) {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += *c;
    }
  }
  if (!part.empty()) {
    parts.push_back(part);
  }
  return parts;
}

NodePtr Find(const char* path) {
  NodePtr node = S().root;
  for (const std::string& part : Split(path)) {
    if (!node->IsFolder()) {
      return nullptr;
    }
    const auto found = node->entries.find(part);
    if (found == node->entries.end()) {
      return nullptr;
    }
    node = found->second;
  }
  return node;
}

// The folder that holds path's last component, and that component.
NodePtr Parent(const char* path, std::string& name) {
  std::vector<std::string> parts = Split(path);
  if (parts.empty()) {
    return nullptr;
  }
  name = parts.back();
  std::string folder = "/";
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += parts[i] + "/";
  }
  NodePtr parent = Find(folder.c_str());
  return parent && parent->IsFolder() ? parent : nullptr;
}

NodePtr Handle(const fuse_file_info* fi, const char* path) {
  if (fi != nullptr) {
    const auto found = S().handles.find(fi->fh);
    if (found != S().handles.end()) {
      return found->second.node;
    }
  }
  return path != nullptr ? Find(path) : nullptr;
}

std::uint64_t Open(NodePtr node, const char* path) {
  const std::uint64_t handle = S().nextHandle++;
  S().handles[handle] = {std::move(node), path};
  return handle;
}

// The path a request names, or the one its open file was opened by.
std::string PathOf(const char* path, const fuse_file_info* fi) {
  if (path != nullptr) {
    return path;
  }
  const auto found = fi != nullptr ? S().handles.find(fi->fh) : S().handles.end();
  return found != S().handles.end() ? found->second.path : "?";
}

void* Init(fuse_conn_info*, fuse_config* config) {
  config->use_ino = 1;
  config->hard_remove = 1;
  config->nullpath_ok = 1;
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  std::printf("ready\n");
  std::fflush(stdout);
  return nullptr;
}

void Destroy(void*) {
  if (!S().frozen) {
    LosePower("end");
  }
}

int GetAttributes(const char* path, struct stat* st, fuse_file_info* fi) {
  if (S().frozen) {
    return -EIO;
  }
  NodePtr node = Handle(fi, path);
  if (!node) {
    return -ENOENT;
  }
  std::memset(st, 0, sizeof *st);
  st->st_ino = node->ino;
  st->st_mode = node->mode;
  st->st_nlink = node->IsFolder() ? 2 : 1;
  st->st_size = static_cast<off_t>(node->data.size());
  st->st_uid = getuid();
  st->st_gid = getgid();
  st->st_blksize = 4096;
  st->st_blocks = (st->st_size + 511) / 512;
  return 0;
}

int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
               fuse_readdir_flags) {
  if (S().frozen) {
    return -EIO;
  }
  NodePtr folder = Handle(fi, path);
  if (!folder || !folder->IsFolder()) {
    return -ENOTDIR;
  }
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const auto& [name, child] : folder->entries) {
    fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  }
  return 0;
}

// Opens the node at path when it is a folder (folder) or a file (!folder).
int OpenNode(const char* path, fuse_file_info* fi, bool folder) {
  if (S().frozen) {
    return -EIO;
  }
  NodePtr node = Find(path);
  if (!node) {
    return -ENOENT;
  }
  if (node->IsFolder() != folder) {
    return folder ? -ENOTDIR : -EISDIR;
  }
  if (!folder && (fi->flags & O_TRUNC) != 0) {
    if (!Change("meta", std::string("truncate ") + path)) {
      return -EIO;
    }
    node->data.clear();
  }
  fi->fh = Open(node, path);
  return 0;
}

int OpenFolder(const char* path, fuse_file_info* fi) {
  return OpenNode(path, fi, true);
}

int OpenFile(const char* path, fuse_file_info* fi) {
  return OpenNode(path, fi, false);
}

int Release(const char*, fuse_file_info* fi) {
  S().handles.erase(fi->fh);
  return 0;
}

int MakeFolder(const char* path, mode_t mode) {
  std::string name;
  NodePtr parent = Parent(path, name);
  if (S().frozen) {
    return -EIO;
  }
  if (!parent) {
    return -ENOENT;
  }
  if (parent->entries.count(name) != 0) {
    return -EEXIST;
  }
  if (!Change("meta", std::string("mkdir ") + path)) {
    return -EIO;
  }
  parent->entries[name] = NewNode(S_IFDIR | (mode & 07777));
  return 0;
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  std::string name;
  NodePtr parent = Parent(path, name);
  if (S().frozen) {
    return -EIO;
  }
  if (!parent) {
    return -ENOENT;
  }
  auto found = parent->entries.find(name);
  if (found != parent->entries.end()) {
    if ((fi->flags & O_EXCL) != 0) {
      return -EEXIST;
    }
    if ((fi->flags & O_TRUNC) != 0 && !Change("meta", std::string("truncate ") + path)) {
      return -EIO;
    }
    if ((fi->flags & O_TRUNC) != 0) {
      found->second->data.clear();
    }
    fi->fh = Open(found->second, path);
    return 0;
  }
  if (!Change("meta", std::string("create ") + path)) {
    return -EIO;
  }
  NodePtr file = NewNode(S_IFREG | (mode & 07777));
  parent->entries[name] = file;
  fi->fh = Open(file, path);
  return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  if (S().frozen) {
    return -EIO;
  }
  NodePtr file = Handle(fi, path);
  if (!file) {
    return -EBADF;
  }
  const auto at = static_cast<std::size_t>(offset);
  if (at >= file->data.size()) {
    return 0;
  }
  const std::size_t count = std::min(size, file->data.size() - at);
  std::memcpy(buffer, file->data.data() + at, count);
  return static_cast<int>(count);
}

int Write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  NodePtr file = Handle(fi, path);
  if (S().frozen || !Change("write", "write")) {
    return -EIO;
  }
  if (!file) {
    return -EBADF;
  }
  const auto at = static_cast<std::size_t>(offset);
  if (file->data.size() < at + size) {
    file->data.resize(at + size);
  }
  std::memcpy(file->data.data() + at, buffer, size);
  return static_cast<int>(size);
}

// One counted change to the node a request names (by its open file or its path); missing is the
// error when there is no such node.
template <typename Action>
int ChangeNode(const char* path, fuse_file_info* fi, int missing, const char* what, Action action) {
  NodePtr node = Handle(fi, path);
  if (S().frozen) {
    return -EIO;
  }
  if (!node) {
    return missing;
  }
  if (!Change("meta", what + PathOf(path, fi))) {
    return -EIO;
  }
  action(*node);
  return 0;
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  return ChangeNode(path, fi, -ENOENT, "truncate ",
                    [&](Node& file) { file.data.resize(static_cast<std::size_t>(size)); });
}

int SyncFile(const char* path, int, fuse_file_info* fi) {
  return ChangeNode(path, fi, -EBADF, "fsync ", [](Node& file) {
    if (!S().ignoreFileFlushes) {
      file.durable = file.data;
    }
  });
}

int SyncFolder(const char* path, int, fuse_file_info* fi) {
  return ChangeNode(path, fi, -EBADF, "fsync folder ",
                    [](Node& folder) { folder.durableEntries = folder.entries; });
}

// Removes the entry at path: a file (folder false) or an empty folder.
int RemoveEntry(const char* path, bool folder) {
  std::string name;
  NodePtr parent = Parent(path, name);
  if (S().frozen) {
    return -EIO;
  }
  if (!parent || parent->entries.count(name) == 0) {
    return -ENOENT;
  }
  const NodePtr& node = parent->entries[name];
  if (node->IsFolder() != folder) {
    return folder ? -ENOTDIR : -EISDIR;
  }
  if (folder && !node->entries.empty()) {
    return -ENOTEMPTY;
  }
  if (!Change("meta", (folder ? "rmdir " : "unlink ") + std::string(path))) {
    return -EIO;
  }
  parent->entries.erase(name);
  return 0;
}

int Unlink(const char* path) {
  return RemoveEntry(path, false);
}

int RemoveFolder(const char* path) {
  return RemoveEntry(path, true);
}

int Rename(const char* from, const char* to, unsigned int flags) {
  std::string fromName;
  std::string toName;
  NodePtr fromParent = Parent(from, fromName);
  NodePtr toParent = Parent(to, toName);
  if (S().frozen) {
    return -EIO;
  }
  if (!fromParent || !toParent || fromParent->entries.count(fromName) == 0) {
    return -ENOENT;
  }
  if ((flags & ~static_cast<unsigned int>(RENAME_NOREPLACE)) != 0) {
    return -EINVAL;
  }
  NodePtr moved = fromParent->entries[fromName];
  const auto existing = toParent->entries.find(toName);
  if (existing != toParent->entries.end()) {
    if ((flags & RENAME_NOREPLACE) != 0) {
      return -EEXIST;
    }
    if (existing->second->IsFolder() && !existing->second->entries.empty()) {
      return -ENOTEMPTY;
    }
    if (existing->second->IsFolder() != moved->IsFolder()) {
      return moved->IsFolder() ? -ENOTDIR : -EISDIR;
    }
  }
  if (!Change("meta", std::string("rename ") + from + " -> " + to)) {
    return -EIO;
  }
  fromParent->entries.erase(fromName);
  toParent->entries[toName] = moved;
  return 0;
}

int Link(const char* from, const char* to) {
  std::string name;
  NodePtr file = Find(from);
  NodePtr parent = Parent(to, name);
  if (S().frozen) {
    return -EIO;
  }
  if (!file || !parent) {
    return -ENOENT;
  }
  if (file->IsFolder()) {
    return -EPERM;
  }
  if (parent->entries.count(name) != 0) {
    return -EEXIST;
  }
  if (!Change("meta", std::string("link ") + from + " -> " + to)) {
    return -EIO;
  }
  parent->entries[name] = file;
  return 0;
}

int ChangeMode(const char* path, mode_t mode, fuse_file_info* fi) {
  return ChangeNode(path, fi, -ENOENT, "chmod ",
                    [&](Node& node) { node.mode = (node.mode & S_IFMT) | (mode & 07777); });
}

int SetTimes(const char*, const timespec*, fuse_file_info*) {
  return S().frozen ? -EIO : 0;
}

int Statistics(const char*, struct statvfs* st) {
  std::memset(st, 0, sizeof *st);
  st->f_bsize = 4096;
  st->f_frsize = 4096;
  st->f_blocks = 1 << 20;
  st->f_bfree = 1 << 19;
  st->f_bavail = 1 << 19;
  st->f_namemax = 255;
  return S().frozen ? -EIO : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: %s IMAGE MOUNTPOINT OUT [--cut meta:N|write:N] [--ignore-file-flushes]\n",
                 argv[0]);
    return 2;
  }
  State& s = S();
  // The file system's process leaves its working folder once mounted.
  s.out = fs::absolute(argv[3]).string();
  for (int i = 4; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cut" && i + 1 < argc) {
      const std::string cut = argv[++i];
      const std::size_t colon = cut.find(':');
      if (colon == std::string::npos) {
        std::fprintf(stderr, "bad cut: %s\n", cut.c_str());
        return 2;
      }
      s.cutKind = cut.substr(0, colon);
      s.cutIndex = std::stol(cut.substr(colon + 1));
    } else if (arg == "--ignore-file-flushes") {
      s.ignoreFileFlushes = true;
    } else {
      std::fprintf(stderr, "unknown option: %s\n", arg.c_str());
      return 2;
    }
  }
  s.root = Load(fs::absolute(argv[1]));

  fuse_operations operations{};
  operations.init = Init;
  operations.destroy = Destroy;
  operations.getattr = GetAttributes;
  operations.readdir = ReadFolder;
  operations.opendir = OpenFolder;
  operations.releasedir = Release;
  operations.mkdir = MakeFolder;
  operations.create = Create;
  operations.open = OpenFile;
  operations.read = Read;
  operations.write = Write;
  operations.truncate = Truncate;
  operations.fsync = SyncFile;
  operations.fsyncdir = SyncFolder;
  operations.release = Release;
  operations.unlink = Unlink;
  operations.rmdir = RemoveFolder;
  operations.rename = Rename;
  operations.link = Link;
  operations.chmod = ChangeMode;
  operations.utimens = SetTimes;
  operations.statfs = Statistics;

  // Foreground and one thread, so that operations are counted in the order they arrive.
  std::vector<char*> args = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), argv[2]};
  return fuse_main(static_cast<int>(args.size()), args.data(), &operations, nullptr);
}
