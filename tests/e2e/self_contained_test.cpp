// The built loader is one file that runs on any host with the C library: the shared libraries
// it names in its dynamic section are the C library's own parts and the dynamic loader, and no
// others (libcurl is opened at the first download, not at start).
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

template <class T>
bool ReadAt(const std::vector<char>& file, std::uint64_t offset, T& out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) {
    return false;
  }
  std::memcpy(&out, file.data() + static_cast<std::size_t>(offset), sizeof(T));
  return true;
}

// The DT_NEEDED names of an ELF file of the class the types give, read through its section
// headers; false when the file is cut short.
template <typename Header, typename Section, typename Dynamic>
bool NeededLibrariesOf(const std::vector<char>& file, std::vector<std::string>& needed) {
  Header header;
  if (!ReadAt(file, 0, header)) {
    return false;
  }
  auto section = [&](std::uint64_t index, Section& out) {
    return index < header.e_shnum && ReadAt(file, header.e_shoff + index * header.e_shentsize, out);
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    Section dynamic, strings;
    if (!section(i, dynamic)) {
      return false;
    }
    if (dynamic.sh_type != SHT_DYNAMIC) {
      continue;
    }
    if (!section(dynamic.sh_link, strings)) {
      return false;
    }
    for (std::uint64_t at = 0; at + sizeof(Dynamic) <= dynamic.sh_size; at += sizeof(Dynamic)) {
      Dynamic entry;
      if (!ReadAt(file, dynamic.sh_offset + at, entry)) {
        return false;
      }
      if (entry.d_tag == DT_NULL) {
        break;
      }
      if (entry.d_tag != DT_NEEDED) {
        continue;
      }
      const std::uint64_t start = strings.sh_offset + entry.d_un.d_val;
      const std::uint64_t end = strings.sh_offset + strings.sh_size;
      if (start >= end || end > file.size()) {
        return false;
      }
      const char* name = file.data() + static_cast<std::size_t>(start);
      needed.emplace_back(name, strnlen(name, static_cast<std::size_t>(end - start)));
    }
  }
  return true;
}

// The DT_NEEDED names of a 32-bit (ARM) or 64-bit ELF file; false when the file is not one or
// is cut short.
bool NeededLibraries(const std::string& path, std::vector<std::string>& needed) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> file{std::istreambuf_iterator<char>(in), {}};
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
    return false;
  }
  switch (file[EI_CLASS]) {
    case ELFCLASS32:
      return NeededLibrariesOf<Elf32_Ehdr, Elf32_Shdr, Elf32_Dyn>(file, needed);
    case ELFCLASS64:
      return NeededLibrariesOf<Elf64_Ehdr, Elf64_Shdr, Elf64_Dyn>(file, needed);
    default:
      return false;
  }
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
