#include "download/file_update.h"

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "loader/worker.h"
#include "tests/device/device_fixture.h"
#include "tests/support/minisign_maker.h"
#include "tests/support/release_keys_for_tests.h"

namespace {

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::WriteFile;

const wchar_t* const THREE_FILES[] = {L"One.dll", L"Two.exe", L"Three.dll", nullptr};

class FileUpdateTest : public testing_support::DeviceTest {
 protected:
  FileUpdateTest() {
    context.requiredFiles = THREE_FILES;
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
            prefix + longName.substr(0, STATUS_MESSAGE_SIZE - 1 - prefix.size()));
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

// A loader built with release keys uses a file only with a good signature of its own, fetched
// from beside it; one that fails keeps nothing of it.
class SignedFileUpdateTest : public FileUpdateTest {
 protected:
  void ServeSigned(const std::string& name, const std::string& content) {
    Serve(name, content);
    Serve(name + ".minisig",
          SignedLikeMinisign(publisher, content, testing_support::TrustedCommentFor(name)));
  }
  std::string SignatureOf(const std::string& name) {
    return ReadFile(server_ / (name + ".minisig"));
  }

  testing_support::ReleaseKey publisher = testing_support::MakeReleaseKey();
  testing_support::ScopedReleaseKeys keys{publisher.publicKeyText};
};

using testing_support::SignedLikeMinisign;

TEST_F(SignedFileUpdateTest, AFileIsPutInPlaceOnlyWithItsOwnGoodSignature) {
  const testing_support::ReleaseKey stranger = testing_support::MakeReleaseKey();
  struct Case {
    const char* what;
    std::function<void()> serve;
    bool used;
  } cases[] = {
      {"signed", [&] { ServeSigned("One.dll", "new one"); }, true},
      {"without a signature",
       [&] {
         ServeSigned("One.dll", "new one");
         std::filesystem::remove(server_ / "One.dll.minisig");
       },
       false},
      {"changed after signing",
       [&] {
         ServeSigned("One.dll", "new one");
         Serve("One.dll", "new onE");
       },
       false},
      {"signed by another key",
       [&] {
         Serve("One.dll", "new one");
         Serve("One.dll.minisig",
               SignedLikeMinisign(stranger, "new one",
                                  testing_support::TrustedCommentFor("One.dll")));
       },
       false},
      {"another file's signature under this name",
       [&] {
         ServeSigned("Two.exe", "new one");
         Serve("One.dll", "new one");
         Serve("One.dll.minisig", SignatureOf("Two.exe"));
       },
       false},
      {"a garbled signature",
       [&] {
         ServeSigned("One.dll", "new one");
         Serve("One.dll.minisig", "untrusted comment: x\nnot base64\n");
       },
       false},
      {"a signature larger than one can be",
       [&] {
         ServeSigned("One.dll", "new one");
         Serve("One.dll.minisig", SignatureOf("One.dll") + std::string(5000, 'x'));
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(server_.Path());
    std::filesystem::create_directories(server_.Path());
    WriteFile(Install("One.dll"), "old");
    downloads.urls.clear();
    c.serve();
    DownloadProgressCallback progress(&context);
    DownloadFailure failure = DownloadFailure::NotFetched;
    EXPECT_EQ(DownloadFile(&context, L"One.dll", &progress, nullptr, &failure), c.used);
    EXPECT_EQ(ReadFile(Install("One.dll")), c.used ? "new one" : "old");
    if (!c.used) {
      EXPECT_EQ(failure, DownloadFailure::NotVerified);
    }
    ASSERT_EQ(downloads.urls.size(), 2u);
    EXPECT_EQ(downloads.urls[1],
              L"http://server/FerroVanService/WebService/Downloads/One.dll.minisig");
    EXPECT_TRUE(Names(Device("Temp")).empty()) << "a fetched copy was left";
  }
}

TEST_F(SignedFileUpdateTest, AFileThatFailsItsCheckIsNamedTheFirstOneToo) {
  for (const char* name : {"One.dll", "Two.exe", "Three.dll"})
    ServeSigned(name, std::string("content of ") + name);
  Serve("One.dll", "tampered");
  EXPECT_FALSE(DownloadRequiredFiles(&context));
  EXPECT_STREQ(context.statusMessage, L"Unable to verify file: \r\nOne.dll");

  ServeSigned("One.dll", "content of One.dll");
  std::filesystem::remove(server_ / "Three.dll.minisig");
  EXPECT_FALSE(DownloadRequiredFiles(&context));
  EXPECT_STREQ(context.statusMessage, L"Unable to verify file: \r\nThree.dll");
  EXPECT_EQ(ReadFile(Install("Two.exe")), "content of Two.exe");
  EXPECT_FALSE(Exists(Install("Three.dll")));

  ServeSigned("Three.dll", "content of Three.dll");
  EXPECT_TRUE(DownloadRequiredFiles(&context));
}

}  // namespace
