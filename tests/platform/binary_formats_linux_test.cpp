// The reading of the kernel's binfmt_misc registrations, by which the device's process list names
// a program that runs under an emulator such as qemu-user.
#include "platform/linux/binary_formats.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

// The head of a 32-bit little-endian ARM executable, and of a 64-bit x86 one.
const std::string kArmHead(
    "\x7f"
    "ELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00",
    20);
const std::string kX64Head(
    "\x7f"
    "ELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x3e\x00",
    20);

// An entry as the kernel writes it, for the interpreter at interpreter.
std::string ArmEntry(const std::string& interpreter, const std::string& state = "enabled") {
  return state + "\ninterpreter " + interpreter +
         "\nflags: F\noffset 0\nmagic 7f454c4601010100000000000000000002002800\n"
         "mask ffffffffffffff00fffffffffffffffffeffffff\n";
}

TEST(BinaryFormats, AreReadAsTheKernelWritesThemAndMalformedOnesAreLeftOut) {
  TempDir dir;
  const std::string interpreter = dir / "qemu-arm";
  WriteFile(interpreter, "");
  const std::string folder = dir / "binfmt";
  WriteFile(folder + "/register", "");
  WriteFile(folder + "/status", "enabled\n");
  WriteFile(folder + "/arm", ArmEntry(interpreter));
  WriteFile(folder + "/disabled", ArmEntry(interpreter, "disabled"));
  WriteFile(folder + "/gone-interpreter", ArmEntry(dir / "no-such-program"));
  WriteFile(folder + "/odd-hex", "enabled\ninterpreter " + interpreter + "\nmagic 7f4\n");
  WriteFile(folder + "/upper-hex", "enabled\ninterpreter " + interpreter + "\nmagic 7F45\n");
  WriteFile(folder + "/mask-too-short",
            "enabled\ninterpreter " + interpreter + "\nmagic 7f45\nmask ff\n");
  WriteFile(folder + "/past-the-head",
            "enabled\ninterpreter " + interpreter + "\noffset 255\nmagic 7f45\n");
  WriteFile(folder + "/both",
            "enabled\ninterpreter " + interpreter + "\nmagic 7f45\nextension .arm\n");
  WriteFile(folder + "/jar", "enabled\ninterpreter " + interpreter + "\nextension .jar\n");

  const auto formats = platform::ReadBinaryFormats(folder);
  ASSERT_EQ(formats.size(), 2u);
  const auto& byMagic = formats[0].extension.empty() ? formats[0] : formats[1];
  const auto& byName = formats[0].extension.empty() ? formats[1] : formats[0];
  EXPECT_EQ(byMagic.magic, kArmHead);
  EXPECT_EQ(byMagic.offset, 0u);
  EXPECT_EQ(byName.extension, "jar");
  EXPECT_TRUE(platform::ReadBinaryFormats(dir / "missing").empty());
}

TEST(BinaryFormats, AFileIsOfAFormatByItsMaskedHeadOrItsNamesEnding) {
  TempDir dir;
  const std::string interpreter = dir / "qemu-arm";
  WriteFile(interpreter, "");
  WriteFile(dir / "binfmt/arm", ArmEntry(interpreter));
  WriteFile(dir / "binfmt/jar", "enabled\ninterpreter " + interpreter + "\nextension .jar\n");
  const auto formats = platform::ReadBinaryFormats(dir / "binfmt");
  ASSERT_EQ(formats.size(), 2u);
  const auto& arm = formats[0].extension.empty() ? formats[0] : formats[1];
  const auto& jar = formats[0].extension.empty() ? formats[1] : formats[0];

  std::string sharedObject = kArmHead;
  sharedObject[16] = '\x03';  // the mask lets ET_DYN (a position-independent program) through
  std::string osAbi = kArmHead;
  osAbi[7] = '\x61';  // masked out
  const struct {
    const char* name;
    std::string content;
    bool arm;
    bool jar;
  } cases[] = {
      {"program", kArmHead + std::string(100, '\0'), true, false},
      {"pie", sharedObject, true, false},
      {"other-abi", osAbi, true, false},
      {"x64", kX64Head, false, false},
      {"short", kArmHead.substr(0, 10), false, false},
      {"script", "#!/bin/sh\n", false, false},
      {"app.jar", "PK", false, true},
      {".jar", "PK", false, false},
  };
  for (const auto& c : cases) {
    WriteFile(dir / c.name, c.content);
    EXPECT_EQ(platform::IsOfFormat(arm, dir / c.name), c.arm) << c.name;
    EXPECT_EQ(platform::IsOfFormat(jar, dir / c.name), c.jar) << c.name;
  }
  EXPECT_FALSE(platform::IsOfFormat(arm, dir / "missing"));
  testing_support::MakeFolders(dir / "folder.jar");
  EXPECT_FALSE(platform::IsOfFormat(jar, dir / "folder.jar"));
}

}  // namespace
