// How the Linux host stores files for the other services: new files under exclusive names
// beside their final ones, flushed before they are moved into place, never written through a
// symbolic link.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// Creates a new file "folder/prefix + random + suffix" (open with O_CREAT | O_EXCL | O_CLOEXEC,
// so a link or a file already there is never opened) for reading and writing, with mode less the
// umask. Returns the descriptor and puts the new name (no folder) in name; -1 on failure.
int CreateExclusiveFile(const std::string& folder, std::string_view prefix, std::string_view suffix,
                        mode_t mode, std::string& name);

// Opens a new file without a name in folder (O_TMPFILE), for reading and writing, with mode less
// the umask: no other program can open it until LinkUnnamedFile names it. -1 on failure, with
// errno EOPNOTSUPP, EISDIR or EINVAL where the system or the file system cannot make one
// (UnnamedFilesUnsupported).
int OpenUnnamedFile(const std::string& folder, mode_t mode);
bool UnnamedFilesUnsupported(int error);
// Names the unnamed file fd "folder/prefix + random + suffix", putting the name (no folder) in
// name; false when no name could be made.
bool LinkUnnamedFile(int fd, const std::string& folder, std::string_view prefix,
                     std::string_view suffix, std::string& name);

// The folder part of a host path ("." for a bare name) and the last component.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

// Flushes a folder's entries to storage, so that a rename in it survives a power cut.
bool SyncFolder(const std::string& folder);

// mkdir(2) with mode (less the umask), then flushes the folder that holds the new one: without
// that a power cut can take the new folder back with everything stored in it since. errno tells
// why it failed.
bool MakeStoredFolder(const std::string& folder, mode_t mode = 0777);

// Removes the entry name of the open folder when it is a regular file that no one holds locked
// (flock): a writer holds its new file locked from its creation until it is moved into place.
void RemoveIfAbandoned(int folder, const std::string& name);

// Whether the open fd is the file that path names now (not replaced, not removed).
bool SameFile(int fd, const std::string& path);

// ReplaceFileContent (platform/host.h) writes content to a new file beside the path, flushes it,
// renames it over the path (replacing a link found there, never writing to its target) and
// flushes the folder.

}  // namespace platform
