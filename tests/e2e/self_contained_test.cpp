// The built loader is one file that runs on any host with the C library: the shared libraries
// it names in its dynamic section are the C library's own parts and the dynamic loader, and no
// others (libcurl is opened at the first download, not at start).
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

template <class T>
bool ReadAt(const std::vector<char>& file, std::size_t offset, T& out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) {
    return false;
  }
  std::memcpy(&out, file.data() + offset, sizeof(T));
  return true;
}

// The DT_NEEDED names of a 64-bit ELF file, read through its section headers; false when the
// file is not one or is cut short.
bool NeededLibraries(const std::string& path, std::vector<std::string>& needed) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> file{std::istreambuf_iterator<char>(in), {}};
  Elf64_Ehdr header;
  if (!ReadAt(file, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64) {
    return false;
  }
  auto section = [&](std::size_t index, Elf64_Shdr& out) {
    return index < header.e_shnum && ReadAt(file, header.e_shoff + index * header.e_shentsize, out);
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr dynamic, strings;
    if (!section(i, dynamic)) {
      return false;
    }
    if (dynamic.sh_type != SHT_DYNAMIC) {
      continue;
    }
    if (!section(dynamic.sh_link, strings)) {
      return false;
    }
    for (std::size_t at = 0; at + sizeof(Elf64_Dyn) <= dynamic.sh_size; at += sizeof(Elf64_Dyn)) {
      Elf64_Dyn entry;
      if (!ReadAt(file, dynamic.sh_offset + at, entry)) {
        return false;
      }
      if (entry.d_tag == DT_NULL) {
        break;
      }
      if (entry.d_tag != DT_NEEDED) {
        continue;
      }
      const std::size_t start = strings.sh_offset + entry.d_un.d_val;
      const std::size_t end = strings.sh_offset + strings.sh_size;
      if (start >= end || end > file.size()) {
        return false;
      }
      needed.emplace_back(file.data() + start, strnlen(file.data() + start, end - start));
    }
  }
  return true;
}

TEST(SelfContainedLoader, NeedsNothingButTheCLibraryAndTheDynamicLoader) {
  std::vector<std::string> needed;
  ASSERT_TRUE(NeededLibraries(FERROVAN_LOADER_PATH, needed)) << FERROVAN_LOADER_PATH;
  // A program without any entry would be a static one, which cannot open libcurl later.
  EXPECT_FALSE(needed.empty());
  const std::regex cLibrary(R"((libc|libm|libdl|libpthread|librt)\.so\.[0-9]+|ld-linux[-.\w]*)");
  for (const std::string& name : needed) {
    EXPECT_TRUE(std::regex_match(name, cLibrary)) << "the loader needs " << name;
  }
}

}  // namespace
