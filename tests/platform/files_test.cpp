// The device's files on every host: folders, attributes, deletion, moves, searches and free
// space, through device paths on a scratch device root.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::CreateFolderResult;
using platform::Files;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::WriteFile;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDeviceRoot(root_.Path());
    ASSERT_TRUE(platform::CreateSystemFolders());
  }

  std::vector<std::wstring> Found(const wchar_t* pattern) {
    std::vector<std::wstring> names;
    auto search = Files().FindFiles(pattern);
    EXPECT_NE(search, nullptr) << "cannot search " << platform::WideToUtf8(pattern);
    std::array<wchar_t, MAX_PATH> name;
    while (search != nullptr && search->Next(name)) {
      names.emplace_back(name.data());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  bool IsFolder(const std::string& path) { return std::filesystem::is_directory(path); }

  testing_support::TempDir root_;
};

TEST_F(FilesTest, CreateFolderTellsItsFourOutcomes) {
  WriteFile(root_ / "a-file", "x");
  const std::wstring tooLong = L"Program Files\\" + std::wstring(300, L'n');
  const struct {
    const wchar_t* path;
    CreateFolderResult expected;
  } steps[] = {
      {L"Program Files\\FerroVanMobile\\", CreateFolderResult::Created},
      {L"Program Files\\FerroVanMobile\\", CreateFolderResult::AlreadyExists},
      {L"a-file", CreateFolderResult::AlreadyExists},
      {L"Application\\FerroVanMobile\\", CreateFolderResult::PathNotFound},
      {L"a-file\\below", CreateFolderResult::PathNotFound},
      {tooLong.c_str(), CreateFolderResult::OtherError},
      {L"Application", CreateFolderResult::Created},
      {L"\\Application", CreateFolderResult::AlreadyExists},
      {L"Application\\FerroVanMobile", CreateFolderResult::Created},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(Files().CreateFolder(step.path), step.expected) << platform::WideToUtf8(step.path);
  }
  EXPECT_TRUE(IsFolder(root_ / "Program Files/FerroVanMobile"));
  EXPECT_TRUE(IsFolder(root_ / "Application/FerroVanMobile"));
}

TEST_F(FilesTest, AttributesTellFoldersFilesAndAbsence) {
  WriteFile(root_ / "Program Files/f.dll", "x");
  EXPECT_EQ(Files().GetAttributes(L"Program Files\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Files().GetAttributes(L"\\Windows"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Files().GetAttributes(L"Program Files\\f.dll"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Files().GetAttributes(L"Program Files\\g.dll"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesTest, DeleteFileRemovesFilesButNeverFolders) {
  WriteFile(root_ / "Program Files/f.dll", "x");
  WriteFile(root_ / "Program Files/full/inner.txt", "x");
  std::filesystem::create_directories(root_ / "Program Files/empty");

  EXPECT_TRUE(Files().DeleteFile(L"Program Files\\f.dll"));
  EXPECT_FALSE(Exists(root_ / "Program Files/f.dll"));
  EXPECT_FALSE(Files().DeleteFile(L"Program Files\\f.dll"));
  EXPECT_FALSE(Files().DeleteFile(L"Program Files\\empty"));
  EXPECT_FALSE(Files().DeleteFile(L"Program Files\\full"));
  EXPECT_FALSE(Files().DeleteFile(L"Windows\\Desktop"));
  EXPECT_TRUE(IsFolder(root_ / "Program Files/empty"));
  EXPECT_TRUE(IsFolder(root_ / "Windows/Desktop"));
  EXPECT_TRUE(Exists(root_ / "Program Files/full/inner.txt"));
}

TEST_F(FilesTest, MoveFileNeverReplacesTheDestination) {
  WriteFile(root_ / "Temp/cache1", "new");
  WriteFile(root_ / "Program Files/old.dll", "old");

  EXPECT_FALSE(Files().MoveFile(L"\\Temp\\cache1", L"Program Files\\old.dll"));
  EXPECT_EQ(ReadFile(root_ / "Program Files/old.dll"), "old");
  EXPECT_EQ(ReadFile(root_ / "Temp/cache1"), "new");

  EXPECT_TRUE(Files().MoveFile(L"Temp\\cache1", L"\\Program Files\\new.dll"));
  EXPECT_EQ(ReadFile(root_ / "Program Files/new.dll"), "new");
  EXPECT_FALSE(Exists(root_ / "Temp/cache1"));

  EXPECT_FALSE(Files().MoveFile(L"\\Temp\\cache1", L"Program Files\\other.dll"));
  EXPECT_FALSE(Exists(root_ / "Program Files/other.dll"));
}

// Plain folders, missing ones and names that are files lead nowhere else: only a link does
// (files_linux_test.cpp; Wine cannot make one).
TEST_F(FilesTest, PlainFoldersAreNotReachedThroughALink) {
  WriteFile(root_ / "Temp/a-file", "x");
  for (const wchar_t* path : {L"", L"Temp", L"Temp\\", L"\\Windows\\Start Menu\\Programs\\",
                              L"Program Files\\FerroVanMobile\\", L"Application\\FerroVanMobile\\",
                              L"Temp\\a-file\\below", L"Missing\\Deeper\\Still"}) {
    EXPECT_FALSE(Files().IsReachedThroughLink(path)) << platform::WideToUtf8(path);
  }
}

TEST(MatchesWildcard, FollowsTheDevicesRules) {
  const struct {
    const wchar_t* pattern;
    const wchar_t* name;
    bool matches;
  } cases[] = {
      {L"*.*", L"README", true},
      {L"*.*", L"a.b", true},
      {L"*.*", L".hidden", true},
      {L"*", L"anything.at.all", true},
      {L"Quillmar Transport*.lnk", L"Quillmar Transport.lnk", true},
      {L"Quillmar Transport*.lnk", L"Quillmar Transport (2).lnk", true},
      {L"Quillmar Transport*.lnk", L"quillmar transport.lnk", false},
      {L"Quillmar Transport*.lnk", L"Quillmar Transport.lnk.bak", false},
      {L"Quillmar Transport*.lnk", L"Other.lnk", false},
      {L"Setup.*", L"Setup", true},
      {L"Setup.*", L"Setup.cab", true},
      {L"Setup.*", L"Setupx", false},
      {L"?.dll", L"a.dll", true},
      {L"?.dll", L"ab.dll", false},
      {L"?.dll", L".dll", false},
      {L"a*b*c", L"aXbYbZc", true},
      {L"a*b*c", L"aXbYcZ", false},
      {L"", L"", true},
      {L"", L"a", false},
      {L"exact.txt", L"Exact.txt", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::MatchesWildcard(c.pattern, c.name), c.matches)
        << platform::WideToUtf8(c.pattern) << " vs " << platform::WideToUtf8(c.name);
  }
}

TEST_F(FilesTest, FindFilesYieldsMatchesWithoutDotEntries) {
  const std::string programs = root_ / "Windows/Start Menu/Programs/";
  for (const char* name : {"Quillmar Transport.lnk", "Quillmar Transport 2.lnk", "Other.lnk",
                           "Quillmar Transport.txt", "README", ".hidden"}) {
    WriteFile(programs + name, "x");
  }
  std::filesystem::create_directories(programs + "Sub Folder");

  EXPECT_EQ(Found(L"\\Windows\\Start Menu\\Programs\\Quillmar Transport*.lnk"),
            (std::vector<std::wstring>{L"Quillmar Transport 2.lnk", L"Quillmar Transport.lnk"}));
  EXPECT_EQ(Found(L"\\Windows\\Start Menu\\Programs\\*.*"),
            (std::vector<std::wstring>{L".hidden", L"Other.lnk", L"Quillmar Transport 2.lnk",
                                       L"Quillmar Transport.lnk", L"Quillmar Transport.txt",
                                       L"README", L"Sub Folder"}));
  EXPECT_EQ(Found(L"Program Files\\*.*"), std::vector<std::wstring>{});
  EXPECT_EQ(Files().FindFiles(L"Program Files\\FerroVanMobile\\*.*"), nullptr);
  WriteFile(root_ / "Program Files/noext", "x");
  EXPECT_EQ(Files().FindFiles(L"Program Files\\noext\\*.*"), nullptr) << "a file is no folder";
}

TEST_F(FilesTest, FindFilesStopsWhenANameDoesNotFit) {
  WriteFile(root_ / "Program Files/README", "x");
  auto search = Files().FindFiles(L"Program Files\\*.*");
  ASSERT_NE(search, nullptr);
  std::array<wchar_t, 4> small;
  EXPECT_FALSE(search->Next(small));
  EXPECT_EQ(small[0], L'\0');
}

TEST_F(FilesTest, FreeBytesNeedsAnExistingPath) {
  std::uint64_t bytes = 0;
  EXPECT_TRUE(Files().FreeBytesAvailable(L"Program Files\\", bytes));
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(Files().FreeBytesAvailable(L"Program Files\\missing\\", bytes));
  EXPECT_FALSE(Files().FreeBytesAvailable(L"Missing\\Deeper\\", bytes));
}

}  // namespace

// A 32-bit processor's file calls refuse a file past 2 GiB unless built for 64-bit offsets.
TEST_F(FilesTest, AFileOver2GiBIsAFileLikeAnyOther) {
  const std::string big = root_ / "Temp/big.cab";
  WriteFile(big, "");
  std::filesystem::resize_file(big, (std::uintmax_t{3} << 30) + 1);  // sparse where it can be

  EXPECT_EQ(Files().GetAttributes(L"Temp\\big.cab"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Found(L"Temp\\*.cab"), std::vector<std::wstring>{L"big.cab"});
  EXPECT_TRUE(Files().MoveFile(L"Temp\\big.cab", L"Temp\\moved.cab"));
  EXPECT_EQ(std::filesystem::file_size(root_ / "Temp/moved.cab"), (std::uintmax_t{3} << 30) + 1);
  EXPECT_TRUE(Files().DeleteFile(L"Temp\\moved.cab"));
  EXPECT_FALSE(Exists(root_ / "Temp/moved.cab"));
}
