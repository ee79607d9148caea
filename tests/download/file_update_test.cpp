#include "download/file_update.h"

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "download/release_check.h"
#include "loader/worker.h"
#include "tests/device/device_fixture.h"
#include "tests/support/minisign_maker.h"
#include "tests/support/release_keys_for_tests.h"

namespace {

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::WriteFile;

const wchar_t* const kThreeFiles[] = {L"One.dll", L"Two.exe", L"Three.dll", nullptr};

class FileUpdateTest : public testing_support::DeviceTest {
 protected:
  FileUpdateTest() {
    context.requiredFiles = kThreeFiles;
    platform::CopyText(context.serverAddress, L"server");
  }
  void Serve(const std::string& name, const std::string& content) {
    WriteFile(server_ / name, content);
  }

  testing_support::TempDir server_;
  testing_support::FolderDownloads downloads{server_.Path()};
  platform::ScopedService<platform::DownloadService> downloadsGuard{downloads};
  testing_support::FakeProcesses processes;
  platform::ScopedService<platform::ProcessService> processesGuard{processes};
};

TEST_F(FileUpdateTest, FreeSpaceMustExceedTheWholeMegabytesAsked) {
  struct Case {
    std::uint64_t megabytes;
    std::uint64_t bytes;
    bool enough;
  };
  for (const Case& c : {Case{10, 11534336, true}, Case{10, 11534335, false}, Case{5, 6291456, true},
                        Case{5, 6291455, false}, Case{0, 1048575, false}, Case{0, 1048576, true}}) {
    SCOPED_TRACE(c.bytes);
    files.freeBytes = c.bytes;
    EXPECT_EQ(HasFreeSpace(&context, c.megabytes), c.enough);
  }
  EXPECT_EQ(files.freeQueries.back(), L"Program Files\\FerroVanMobile\\");
  files.freeBytes.reset();
  EXPECT_FALSE(HasFreeSpace(&context, 0));
}

TEST_F(FileUpdateTest, CompleteFolderPassesTheCheckUntouched) {
  const wchar_t* const marked[] = {L"One.dll", L"Scanner.CE.dll", L"Pad.wm.dll", nullptr};
  context.requiredFiles = marked;
  for (const char* name : {"One.dll", "Scanner.dll", "Pad.dll", "Extra.txt"}) {
    WriteFile(Install(name), "x");
  }
  EXPECT_TRUE(CheckRequiredFiles(&context));
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{L"Checking Required Files"});
  EXPECT_TRUE(Exists(Install("Extra.txt")));

  const wchar_t* const none[] = {nullptr};
  context.requiredFiles = none;
  EXPECT_TRUE(CheckRequiredFiles(&context));
}

TEST_F(FileUpdateTest, MissingFileClearsTheFolder) {
  for (const char* name : {"One.dll", "Three.dll", "FerroVan.Mobile.Client.Load.exe"}) {
    WriteFile(Install(name), "x");
  }
  EXPECT_FALSE(CheckRequiredFiles(&context));
  EXPECT_EQ(Names(Install("")), std::vector<std::string>{"FerroVan.Mobile.Client.Load.exe"});
  EXPECT_EQ(StatusTexts(),
            (std::vector<std::wstring>{L"Checking Required Files", L"Clearing folders"}));
}

TEST_F(FileUpdateTest, DownloadFileStoresUnderTheLocalName) {
  Serve("FerroVan.Mobile.Client.Load.exe", "new loader");
  WriteFile(Install("FerroVan.Mobile.Client.Load.New.exe"), "old");
  DownloadProgressCallback progress(&context);
  EXPECT_TRUE(DownloadFile(&context, L"FerroVan.Mobile.Client.Load.exe", &progress,
                           L"FerroVan.Mobile.Client.Load.New.exe"));
  EXPECT_EQ(downloads.urls,
            std::vector<std::wstring>{L"http://server/FerroVanService/WebService/Downloads/"
                                      L"FerroVan.Mobile.Client.Load.exe"});
  EXPECT_EQ(ReadFile(Install("FerroVan.Mobile.Client.Load.New.exe")), "new loader");
  EXPECT_FALSE(Exists(Install("FerroVan.Mobile.Client.Load.exe")));
  EXPECT_TRUE(Names(Device("Temp")).empty());
  EXPECT_STREQ(context.serverAddress, L"server/");
}

TEST_F(FileUpdateTest, DownloadsEveryFileWithProgress) {
  Serve("One.dll", "1");
  Serve("Two.exe", "22");
  Serve("Three.dll", "333");
  WriteFile(Install("Two.exe"), "old");
  EXPECT_TRUE(DownloadRequiredFiles(&context));
  EXPECT_EQ(ReadFile(Install("One.dll")), "1");
  EXPECT_EQ(ReadFile(Install("Two.exe")), "22");
  EXPECT_EQ(ReadFile(Install("Three.dll")), "333");
  EXPECT_EQ(frontEnd.TextOf(1004), L"Three.dll\r\nDownloaded 3 bytes of 3 bytes");
  EXPECT_STREQ(context.statusMessage, L"");
}

TEST_F(FileUpdateTest, FileMissingOnTheServerStopsTheDownloads) {
  Serve("One.dll", "1");
  Serve("Two.exe", "22");
  WriteFile(Install("Three.dll"), "old");
  EXPECT_FALSE(DownloadRequiredFiles(&context));
  EXPECT_STREQ(context.statusMessage, L"Unable to download file: \r\nThree.dll");
  EXPECT_EQ(ReadFile(Install("One.dll")), "1");
  EXPECT_EQ(ReadFile(Install("Two.exe")), "22");
  EXPECT_EQ(ReadFile(Install("Three.dll")), "old");
}

TEST_F(FileUpdateTest, FirstFileFailingReportsTheConnection) {
  Serve("Two.exe", "22");
  EXPECT_FALSE(DownloadRequiredFiles(&context));
  EXPECT_STREQ(context.statusMessage,
               L"Error connecting to server.\r\nPlease check the Url or network connectivity.");
  EXPECT_EQ(downloads.urls.size(), 1u);
}

TEST_F(FileUpdateTest, MarkedFilesAreStoredUnderTheirLocalNames) {
  const wchar_t* const marked[] = {L"One.dll", L"Scanner.CE.dll", L"Pad.wm.dll", nullptr};
  context.requiredFiles = marked;
  Serve("One.dll", "1");
  Serve("Scanner.CE.dll", "scanner");
  EXPECT_FALSE(DownloadRequiredFiles(&context));
  EXPECT_EQ(ReadFile(Install("Scanner.dll")), "scanner");
  EXPECT_STREQ(context.statusMessage, L"Unable to download and replace file: \r\nPad.wm.dll");
}

TEST_F(FileUpdateTest, LongNameIsCutToTheStatusMessage) {
  const std::wstring longName = std::wstring(120, L'n') + L".dll";
  const wchar_t* const names[] = {L"One.dll", longName.c_str(), nullptr};
  context.requiredFiles = names;
  Serve("One.dll", "1");
  EXPECT_FALSE(DownloadRequiredFiles(&context));
  const std::wstring prefix = L"Unable to download file: \r\n";
  EXPECT_EQ(context.statusMessage,
            prefix + longName.substr(0, kStatusMessageSize - 1 - prefix.size()));
}

TEST_F(FileUpdateTest, RefusesBeforeQueryingWithoutAnAddressOrSpace) {
  context.serverAddress[0] = L'\0';
  EXPECT_FALSE(DownloadRequiredFiles(&context));
  EXPECT_STREQ(context.statusMessage, L"Please enter a valid url.");
  EXPECT_TRUE(files.freeQueries.empty());

  platform::CopyText(context.serverAddress, L"server");
  files.freeBytes = 11534335;
  try {
    DownloadRequiredFiles(&context);
    FAIL() << "no failure raised";
  } catch (const LoaderFailure& failure) {
    EXPECT_STREQ(failure.Message(), L"10MB required for installation of this application.");
  }
  EXPECT_TRUE(downloads.urls.empty());
}

// A loader built with release keys fetches the release manifest once in a run, before any other
// file, and puts a file in place only when it matches its line there.
class SignedFileUpdateTest : public FileUpdateTest {
 protected:
  SignedFileUpdateTest() {
    ServeRelease(5, "",
                 {{"FerroVan.Mobile.Client.Load.exe", "loader"},
                  {"One.dll", "content of One.dll"},
                  {"Two.exe", "content of Two.exe"},
                  {"Three.dll", "content of Three.dll"}});
  }
  // Serves the files and a manifest of them, signed by key (the publisher's by default).
  void ServeRelease(int release, const std::string& expires,
                    const std::vector<std::pair<std::string, std::string>>& served,
                    const testing_support::ReleaseKey* key = nullptr) {
    std::string manifest = "ferrovan-release 1\nrelease " + std::to_string(release) + "\n";
    if (!expires.empty()) {
      manifest += "expires " + expires + "\n";
    }
    for (const auto& [name, content] : served) {
      Serve(name, content);
      manifest += testing_support::ManifestLine(name, content) + "\n";
    }
    ServeManifest(manifest, key);
  }
  void ServeManifest(const std::string& manifest, const testing_support::ReleaseKey* key) {
    Serve("FerroVan.Mobile.Release", manifest);
    Serve("FerroVan.Mobile.Release.minisig",
          testing_support::SignedLikeMinisign(
              key != nullptr ? *key : publisher, manifest,
              testing_support::TrustedCommentFor("FerroVan.Mobile.Release")));
  }
  std::vector<std::wstring> AskedFor() const {
    std::vector<std::wstring> names;
    for (const std::wstring& url : downloads.urls) {
      names.push_back(url.substr(url.rfind(L'/') + 1));
    }
    return names;
  }

  testing_support::ReleaseKey publisher = testing_support::MakeReleaseKey();
  testing_support::ScopedReleaseKeys keys{publisher.publicKeyText, 5};
  testing_support::FakeClock clock;
  platform::ScopedService<platform::ClockService> clockGuard{clock};
};

TEST_F(SignedFileUpdateTest, AReleaseThatHoldsIsFetchedWithOneManifestAndNoOtherRequest) {
  ASSERT_TRUE(DownloadRequiredFiles(&context)) << testing_support::Narrow(context.statusMessage);
  for (const char* name : {"One.dll", "Two.exe", "Three.dll"}) {
    EXPECT_EQ(ReadFile(Install(name)), std::string("content of ") + name);
  }
  EXPECT_EQ(AskedFor(), (std::vector<std::wstring>{L"FerroVan.Mobile.Release",
                                                   L"FerroVan.Mobile.Release.minisig", L"One.dll",
                                                   L"Two.exe", L"Three.dll"}));
  EXPECT_TRUE(Names(Device("Temp")).empty()) << "a fetched copy was left";

  // The same run asks no more; the next run fetches its own.
  downloads.urls.clear();
  DownloadProgressCallback progress(&context);
  EXPECT_TRUE(DownloadFile(&context, L"Two.exe", &progress, nullptr));
  EXPECT_EQ(AskedFor(), std::vector<std::wstring>{L"Two.exe"});
  ForgetRelease(&context);
  downloads.urls.clear();
  EXPECT_TRUE(DownloadFile(&context, L"Two.exe", &progress, nullptr));
  EXPECT_EQ(AskedFor().front(), L"FerroVan.Mobile.Release");
}

TEST_F(SignedFileUpdateTest, EveryRefusalSaysWhyAndKeepsTheOldFiles) {
  const testing_support::ReleaseKey stranger = testing_support::MakeReleaseKey();
  const std::vector<std::pair<std::string, std::string>> release = {
      {"FerroVan.Mobile.Client.Load.exe", "loader"},
      {"One.dll", "content of One.dll"},
      {"Two.exe", "content of Two.exe"},
      {"Three.dll", "content of Three.dll"}};
  struct Case {
    const char* what;
    std::function<void()> spoil;
    const wchar_t* text;
    bool filesAsked;  // whether any file was asked for after the manifest
  } cases[] = {
      {"a file that differs from its line", [&] { Serve("Two.exe", "content of Two.exE"); },
       L"Unable to verify file: \r\nTwo.exe", true},
      {"a file one byte longer", [&] { Serve("Three.dll", "content of Three.dll!"); },
       L"Unable to verify file: \r\nThree.dll", true},
      {"a file one byte shorter", [&] { Serve("One.dll", "content of One.dl"); },
       L"Unable to verify file: \r\nOne.dll", true},
      {"a manifest by another key", [&] { ServeRelease(5, "", release, &stranger); },
       L"Unable to verify the release manifest.", false},
      {"a manifest changed after signing",
       [&] {
         Serve("FerroVan.Mobile.Release", ReadFile(server_ / "FerroVan.Mobile.Release") + "\n");
       },
       L"Unable to verify the release manifest.", false},
      {"a manifest listing a file twice",
       [&] {
         ServeManifest("ferrovan-release 1\nrelease 5\n" +
                           testing_support::ManifestLine("One.dll", "content of One.dll") + "\n" +
                           ReadFile(server_ / "FerroVan.Mobile.Release").substr(30),
                       nullptr);
       },
       L"Unable to verify the release manifest.", false},
      {"an oversized signature",
       [&] {
         Serve("FerroVan.Mobile.Release.minisig",
               ReadFile(server_ / "FerroVan.Mobile.Release.minisig") + std::string(5000, '\n'));
       },
       L"Unable to verify the release manifest.", false},
      {"no manifest", [&] { std::filesystem::remove(server_ / "FerroVan.Mobile.Release"); },
       L"Unable to download the release manifest.\r\nPlease check your connection settings.",
       false},
      {"an older release", [&] { ServeRelease(4, "", release); },
       L"The release on the server is older than this loader.", false},
      {"an expired release", [&] { ServeRelease(5, "2025-12-31T23:59:59Z", release); },
       L"The release on the server has expired.\r\nPlease check the device's date.", false},
      {"an expiry and a clock that cannot be read",
       [&] {
         ServeRelease(5, "2099-01-01T00:00:00Z", release);
         clock.readable = false;
       },
       L"The release on the server has expired.\r\nPlease check the device's date.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(server_.Path());
    std::filesystem::create_directories(server_.Path());
    ServeRelease(5, "", release);
    clock.now = 1767225600;  // 2026-01-01T00:00:00Z
    clock.readable = true;
    for (const char* name : {"One.dll", "Two.exe", "Three.dll"}) {
      WriteFile(Install(name), "old");
    }
    c.spoil();
    ForgetRelease(&context);
    downloads.urls.clear();
    EXPECT_FALSE(DownloadRequiredFiles(&context));
    EXPECT_STREQ(context.statusMessage, c.text);
    EXPECT_EQ(AskedFor().size() > 2, c.filesAsked);
    EXPECT_TRUE(Names(Device("Temp")).empty()) << "a fetched copy was left";
    // The file that failed, and those after it, keep their old copies.
    for (const char* name : {"Three.dll"}) {
      EXPECT_EQ(ReadFile(Install(name)), "old");
    }
  }
}

// The expiry and the clock are compared as 64-bit seconds on every build: a date past 2038 holds
// to its last second, and a clock past a signed 32-bit count's end is past an earlier expiry.
TEST_F(SignedFileUpdateTest, ExpiriesAndClocksPast2038AreComparedWhole) {
  const struct {
    const char* expires;
    std::int64_t now;
    const char* when;
    bool taken;
  } cases[] = {
      {"2040-02-29T23:59:59Z", 2147483648, "2038-01-19T03:14:08Z", true},
      {"2040-02-29T23:59:59Z", 2214172799, "2040-02-29T23:59:59Z", true},
      {"2040-02-29T23:59:59Z", 2214172800, "2040-03-01T00:00:00Z", false},
      {"2037-12-31T23:59:59Z", 2147483648, "2038-01-19T03:14:08Z", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("expires ") + c.expires + ", the clock at " + c.when);
    ServeRelease(5, c.expires,
                 {{"FerroVan.Mobile.Client.Load.exe", "loader"},
                  {"One.dll", "content of One.dll"},
                  {"Two.exe", "content of Two.exe"},
                  {"Three.dll", "content of Three.dll"}});
    clock.now = c.now;
    ForgetRelease(&context);
    EXPECT_EQ(DownloadRequiredFiles(&context), c.taken)
        << testing_support::Narrow(context.statusMessage);
    if (!c.taken) {
      EXPECT_STREQ(context.statusMessage, kReleaseExpiredText);
    }
  }
}

TEST_F(SignedFileUpdateTest, TheNewestLoaderMustCarryOneOfThisLoadersKeys) {
  const std::string keyLine =
      publisher.publicKeyText.substr(publisher.publicKeyText.find('\n') + 1, 56);
  // The key spans two of the pieces in which the body arrives.
  const std::string carrying = std::string(980, 'x') + keyLine + std::string(3000, 'y');
  const std::string keyless = std::string(4000, 'x');
  for (const auto& [content, used] : {std::pair{carrying, true}, std::pair{keyless, false}}) {
    ForgetRelease(&context);
    ServeRelease(5, "",
                 {{"FerroVan.Mobile.Client.Load.exe", content},
                  {"One.dll", "1"},
                  {"Two.exe", "2"},
                  {"Three.dll", "3"}});
    std::filesystem::remove(Install("FerroVan.Mobile.Client.Load.New.exe"));
    DownloadProgressCallback progress(&context);
    DownloadFailure failure = DownloadFailure::None;
    EXPECT_EQ(DownloadFile(&context, L"FerroVan.Mobile.Client.Load.exe", &progress,
                           L"FerroVan.Mobile.Client.Load.New.exe", &failure),
              used);
    EXPECT_EQ(Exists(Install("FerroVan.Mobile.Client.Load.New.exe")), used);
    EXPECT_EQ(failure, used ? DownloadFailure::None : DownloadFailure::LacksKeys);
  }
  // A client file needs no key.
  ForgetRelease(&context);
  DownloadProgressCallback progress(&context);
  EXPECT_TRUE(DownloadFile(&context, L"One.dll", &progress, nullptr));
}

}  // namespace
