// The kernel's binfmt_misc registrations: programs that the kernel starts through an interpreter,
// such as another processor's programs through qemu-user. The interpreter's process has the
// interpreter as its executable (/proc/PID/exe), and the program's path as its first argument.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct BinaryFormat {
  std::string interpreter;  // canonical path
  std::size_t offset = 0;   // where magic starts in the file
  std::string magic;        // bytes; empty for a format known by the name's extension
  std::string mask;         // as long as magic
  std::string extension;    // without the dot; empty for a format known by its magic
};

// The enabled registrations in folder (binfmt_misc's); none when it cannot be read. An entry that
// does not read as the kernel writes them is left out.
std::vector<BinaryFormat> ReadBinaryFormats(const std::string& folder);

// Whether the regular file at path is of the format: its first bytes or its name's extension.
bool IsOfFormat(const BinaryFormat& format, const std::string& path);

}  // namespace platform
