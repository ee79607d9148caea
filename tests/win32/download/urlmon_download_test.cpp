// The downloads through the URL moniker, against the download service that
// run_download_test.sh starts, and the COM object that urlmon binds with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "platform/device_root.h"
#include "platform/download.h"
#include "platform/win32/bind_status_bridge.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_types.h"
#include "tests/support/recording_callback.h"

// After the system's own headers, which they need.
#include <wincrypt.h>
#include <wininet.h>

namespace {

using platform::BindStatusBridge;

using testing_support::Notification;
using testing_support::RecordingCallback;

std::wstring Env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) {
    ADD_FAILURE() << name << " is not set: run this program through run_download_test.sh";
    return {};
  }
  return std::wstring(value, value + std::strlen(value));
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::wstring& path, const std::string& content) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.flush()) << "cannot write the served file";
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool InCache(const std::wstring& url) {
  DWORD size = 0;
  GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size);
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    text[i] = static_cast<char>(seed >> 16);
  }
  return text;
}

// Files under folder (recursively) whose names start with stem; with holdingData, only those
// that are not empty.
std::vector<std::wstring> FilesStartingWith(const std::wstring& folder, const std::wstring& stem,
                                            bool holdingData = false) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return found;
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") {
      continue;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      for (auto& inner : FilesStartingWith(folder + L"\\" + name, stem, holdingData)) {
        found.push_back(inner);
      }
    } else if (name.rfind(stem, 0) == 0 &&
               (!holdingData || entry.nFileSizeLow != 0 || entry.nFileSizeHigh != 0)) {
      found.push_back(folder + L"\\" + name);
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

// The progress a device shows: 4 once, then 5 (the last with the whole count), then 6, each
// with the address.
void ExpectDeviceProgress(const std::vector<Notification>& data, const std::wstring& url,
                          std::size_t size) {
  ASSERT_GE(data.size(), 3u);
  EXPECT_EQ(data.front().status, BINDSTATUS_BEGINDOWNLOADDATA);
  EXPECT_EQ(data.back().status, BINDSTATUS_ENDDOWNLOADDATA);
  EXPECT_EQ(data[data.size() - 2].status, BINDSTATUS_DOWNLOADINGDATA);
  EXPECT_EQ(data[data.size() - 2].progress, size) << "the last count is the whole file";
  std::uint32_t previous = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(data[i].text, url);
    if (i > 0 && i + 1 < data.size()) {
      EXPECT_EQ(data[i].status, BINDSTATUS_DOWNLOADINGDATA);
    }
    EXPECT_GE(data[i].progress, previous);
    previous = data[i].progress;
  }
}

class UrlMonikerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    base_ = Env("FERROVAN_TEST_SERVER");
    folder_ = Env("FERROVAN_TEST_FOLDER");
    ASSERT_FALSE(base_.empty() || folder_.empty());
    // The downloads keep their copies in the device's Temp folder (a subfolder is not served).
    platform::SetDeviceRoot(platform::WideToUtf8(folder_ + L"\\device"));
    ASSERT_TRUE(platform::CreateSystemFolders());
    temp_ = platform::WideHostPath(L"Temp");
  }
  void TearDown() override {
    EXPECT_EQ(BindStatusBridge::Live(), 0) << "urlmon or the service kept a bridge alive";
    for (const auto& path : cleanup_) {
      DeleteFileW(path.c_str());
    }
    CoUninitialize();
  }

  std::wstring Serve(const std::wstring& name, const std::string& content) {
    const std::wstring path = folder_ + L"\\" + name;
    WriteAll(path, content);
    return path;
  }
  // A scratch folder's file of the test (the served folder's own subfolder is not served).
  std::wstring Scratch(const std::wstring& name) {
    const std::wstring folder = folder_ + L"\\scratch";
    CreateDirectoryW(folder.c_str(), nullptr);
    cleanup_.push_back(folder + L"\\" + name);
    return folder + L"\\" + name;
  }
  HRESULT ToCache(const std::wstring& url, std::wstring& path, IBindStatusCallback* callback) {
    wchar_t buffer[MAX_PATH] = L"unchanged";
    const HRESULT result =
        platform::Downloads().DownloadToCacheFile(url.c_str(), buffer, callback, nullptr);
    path = buffer;
    if (result == S_OK) {
      cleanup_.push_back(platform::WideHostPath(path));
    }
    return result;
  }
  // The download copies left in the device's Temp folder.
  std::vector<std::wstring> CopiesInTemp() { return FilesStartingWith(temp_, L"ferrovan-cache."); }

  std::wstring base_;
  std::wstring temp_;
  std::wstring folder_;
  std::vector<std::wstring> cleanup_;
};

TEST_F(UrlMonikerTest, FetchesWholeFilesWithTheProgressOfADevice) {
  const std::string body = Pattern(300000, 7);
  Serve(L"whole.bin", body);
  Serve(L"empty.bin", "");
  struct Case {
    const wchar_t* name;
    const std::string* content;
    bool toCache;
  };
  const std::string nothing;
  for (const Case& c : {Case{L"whole.bin", &body, true}, Case{L"whole.bin", &body, false},
                        Case{L"empty.bin", &nothing, true}, Case{L"empty.bin", &nothing, false}}) {
    SCOPED_TRACE(testing::Message() << (c.toCache ? "cache " : "file ") << c.name);
    const std::wstring url = base_ + c.name;
    RecordingCallback progress;
    std::wstring path;
    if (c.toCache) {
      // The copy has left the internet cache, index entry and all, for the device's Temp.
      ASSERT_EQ(ToCache(url, path, &progress), S_OK);
      EXPECT_EQ(path.rfind(L"Temp\\ferrovan-cache.", 0), 0u) << path;
      EXPECT_FALSE(InCache(url)) << "an index entry names a copy that the loader moves away";
    } else {
      path = Scratch(c.name);
      const std::vector<std::wstring> before = CopiesInTemp();
      ASSERT_EQ(platform::Downloads().DownloadToFile(url.c_str(), path.c_str(), &progress, nullptr),
                S_OK);
      EXPECT_EQ(CopiesInTemp(), before) << "temporary left";
    }
    EXPECT_TRUE(ReadAll(platform::WideHostPath(path)) == *c.content) << "wrong bytes in " << path;
    ExpectDeviceProgress(progress.DataNotes(), url, c.content->size());
  }
}

TEST_F(UrlMonikerTest, FailedFetchesLeaveNoCopyAndTheOldTarget) {
  const std::string body = Pattern(300000, 11);
  Serve(L"cut.bin", body);   // the service sends its first 1000 bytes only
  Serve(L"huge.bin", body);  // the service announces 100 TB
  // Where the cache keeps its copies: two levels above a file it would make.
  wchar_t known[MAX_PATH] = L"";
  ASSERT_TRUE(CreateUrlCacheEntryW((base_ + L"known.bin").c_str(), 0, L"bin", known, 0));
  const std::wstring knownPath = known;
  const std::wstring cacheRoot =
      knownPath.substr(0, knownPath.find_last_of(L'\\', knownPath.rfind(L'\\') - 1));

  struct Case {
    const char* what;
    std::wstring url;
    std::wstring stem;
    bool bodyRefused = false;  // not a byte of the body is taken
  };
  const std::vector<Case> cases = {
      {"missing on the server (404)", base_ + L"missing.bin", L"missing"},
      {"body cut short", base_ + L"cut.bin", L"cut"},
      {"server unreachable",
       L"http://127.0.0.1:1/FerroVanService/WebService/Downloads/unreachable.bin", L"unreachable"},
      {"a length larger than the device can store", base_ + L"huge.bin", L"huge", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingCallback progress;
    std::wstring path;
    EXPECT_NE(ToCache(c.url, path, &progress), S_OK);
    EXPECT_EQ(path, L"");
    EXPECT_FALSE(InCache(c.url)) << "a cache entry is left";
    // Wine makes an empty file in the cache before it connects and leaves it when the
    // connection fails; no entry names it and nothing is served from it.
    EXPECT_TRUE(FilesStartingWith(cacheRoot, c.stem, true).empty()) << "a cache copy is left";
    for (const auto& n : progress.DataNotes()) {
      EXPECT_NE(n.status, BINDSTATUS_ENDDOWNLOADDATA) << "a failed download never ends";
    }
    if (c.bodyRefused) {
      EXPECT_TRUE(progress.DataNotes().empty()) << "the body was taken";
    }

    const std::wstring kept = Scratch(L"kept.dll");
    WriteAll(kept, "old copy");
    EXPECT_NE(platform::Downloads().DownloadToFile(c.url.c_str(), kept.c_str(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(ReadAll(kept), "old copy");
    const std::wstring absent = Scratch(L"absent.dll");
    EXPECT_NE(platform::Downloads().DownloadToFile(c.url.c_str(), absent.c_str(), nullptr, nullptr),
              S_OK);
    EXPECT_FALSE(Exists(absent));
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
  }
}

// A program beside the loader that tries, once the body is whole and judged, to write, move or
// delete each download copy in Temp: it can do none of them, and the file that takes the
// target's name holds exactly the bytes the sink saw.
class Neighbour : public platform::DownloadContentSink {
 public:
  explicit Neighbour(std::wstring temp) : temp_(std::move(temp)) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    seen.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
  }
  bool Complete() override {
    for (const std::wstring& path : FilesStartingWith(temp_, L"ferrovan-cache.")) {
      ++copies;
      const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        changed += WriteFile(file, "EVIL", 4, &written, nullptr) ? 1 : 0;
        CloseHandle(file);
      }
      changed += MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0) ? 1 : 0;
      changed += DeleteFileW(path.c_str()) ? 1 : 0;
    }
    return true;
  }
  std::string seen;
  int copies = 0;
  int changed = 0;

 private:
  std::wstring temp_;
};

TEST_F(UrlMonikerTest, NoOtherProgramCanChangeAFileBetweenItsCheckAndItsMove) {
  const std::string body = Pattern(300000, 13);
  Serve(L"checked.bin", body);
  const std::wstring target = Scratch(L"checked.dll");
  WriteAll(target, "old copy");
  Neighbour neighbour(temp_);
  ASSERT_EQ(platform::Downloads().DownloadToFile((base_ + L"checked.bin").c_str(), target.c_str(),
                                                 nullptr, &neighbour),
            S_OK);
  EXPECT_EQ(neighbour.copies, 1) << "the copy was not where the neighbour looked";
  EXPECT_EQ(neighbour.changed, 0) << "the neighbour changed the copy";
  EXPECT_TRUE(neighbour.seen == body);
  EXPECT_TRUE(ReadAll(target) == body) << "the file in place is not the one seen";
  EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
}

// A sink that keeps what it is shown, as a digest takes it, and starts again when told to (or
// cannot).
class KeepingSink : public platform::DownloadContentSink {
 public:
  explicit KeepingSink(bool restartable) : restartable_(restartable) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    seen.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
  }
  // Refuses as many judgements as refusals says, as a release check refuses a file that is not
  // the release's.
  bool Complete() override { return refusals-- <= 0; }
  int refusals = 0;
  bool Restart() override {
    ++restarts;
    seen.clear();
    return restartable_;
  }
  std::string seen;
  int restarts = 0;

 private:
  bool restartable_;
};

// A connection that breaks mid-file is resumed with a range on the same version of the file; a
// server that sends the whole file again starts the body again; a server that never lets the
// copy grow, or breaks it more often than the bound, fails the download with nothing left. The
// service breaks each name as run_download_test.sh tells it.
TEST_F(UrlMonikerTest, ABrokenTransferIsResumedWhereItStopped) {
  const std::string body = Pattern(700000, 17);
  const struct {
    const wchar_t* name;
    bool sinkRestarts;
    bool fetched;
    int restarts;
    bool changes = false;  // a new version is put in place as the first bytes arrive
  } cases[] = {
      {L"resumed.bin", true, true, 0},          // broken every 200 kB
      {L"again.bin", true, true, 1},            // broken once, then sent whole
      {L"again2.bin", false, false, 1},         // the same, to a sink that cannot start again
      {L"stuck.bin", true, false, 1},           // sent whole and broken at the same byte each time
      {L"often.bin", true, false, 0},           // broken more often than a download resumes
      {L"changed.bin", true, true, 1, true},    // changed before the range: sent whole
      {L"changed2.bin", true, false, 0, true},  // a server that ignores If-Range: refused
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::WideToUtf8(c.name));
    Serve(c.name, body);
    const std::wstring url = base_ + c.name;
    const std::wstring target = Scratch(c.name);
    KeepingSink sink(c.sinkRestarts);
    RecordingCallback progress;
    // Put in place as a publisher does (a new file moved over the old): the response under way
    // goes on with the old one, the next request finds the new one.
    const std::string changed = Pattern(body.size(), 31);
    if (c.changes) {
      progress.onFirstData = [&] {
        const std::wstring fresh = Serve(std::wstring(c.name) + L".new", changed);
        MoveFileExW(fresh.c_str(), (folder_ + L"\\" + c.name).c_str(), MOVEFILE_REPLACE_EXISTING);
      };
    }
    const std::string& served = c.changes ? changed : body;
    EXPECT_EQ(
        platform::Downloads().DownloadToFile(url.c_str(), target.c_str(), &progress, &sink) == S_OK,
        c.fetched);
    EXPECT_EQ(sink.restarts, c.restarts);
    if (c.fetched) {
      EXPECT_TRUE(ReadAll(target) == served) << "the file differs from the one served";
      EXPECT_TRUE(sink.seen == served) << "the sink saw other bytes than the file's";
      if (c.restarts == 0) {
        // A resumed transfer counts on from where it stopped, against the whole file's length.
        ExpectDeviceProgress(progress.DataNotes(), url, body.size());
        EXPECT_EQ(progress.DataNotes().back().total, body.size());
      }
    } else {
      EXPECT_FALSE(Exists(target));
    }
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
  }
}

// What a download keeps of the file it put in place lets the next download of that address ask
// whether it changed: a 304 puts the kept copy in place without a transfer, once it still hashes
// as it did; a damaged one (the installed file, which the kept link shares), or a file changed
// on the server, is fetched whole.
TEST_F(UrlMonikerTest, AFileFetchedBeforeIsRevalidatedAndTakenFromItsKeptCopy) {
  const std::wstring answers = Env("FERROVAN_TEST_ANSWERS");
  const std::string body = Pattern(700000, 19);
  const std::string changed = Pattern(500000, 23);
  Serve(L"kept.bin", body);
  const std::wstring url = base_ + L"kept.bin";
  const std::wstring installed = Scratch(L"kept.dll");
  const auto keptCopy = [&] {
    for (const std::wstring& path : FilesStartingWith(temp_, L"ferrovan-kept.kept.bin.")) {
      if (path.ends_with(L".copy")) {
        return path;
      }
    }
    return std::wstring(L"no kept copy");
  };
  const auto nothing = [] {};
  const struct {
    const char* what;
    std::function<void()> before;
    int status;
    const std::string* content;
    int refusals = 0;
  } cases[] = {
      {"the first download", nothing, 200, &body},
      {"again, the file removed as a forced upgrade clears it",
       [&] { DeleteFileW(installed.c_str()); }, 304, &body},
      {"again, the file in place", nothing, 304, &body},
      {"the installed file damaged where it lies",
       [&] {
         const HANDLE file = CreateFileW(installed.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
         ASSERT_NE(file, INVALID_HANDLE_VALUE);
         LARGE_INTEGER at{};
         at.QuadPart = 1000;
         DWORD written = 0;
         SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
         EXPECT_TRUE(WriteFile(file, "X", 1, &written, nullptr));
         CloseHandle(file);
       },
       200, &body},
      {"the file changed on the server", [&] { Serve(L"kept.bin", changed); }, 200, &changed},
      {"and then not", nothing, 304, &changed},
      // As a release check refuses a kept copy that a server rolled back to: it goes, and the
      // file is fetched whole at once.
      {"a kept copy that the sink refuses", nothing, 200, &changed, 1},
      {"and then the kept copy of that", nothing, 304, &changed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    KeepingSink sink(true);
    sink.refusals = c.refusals;
    RecordingCallback progress;
    ASSERT_EQ(
        platform::Downloads().DownloadToFile(url.c_str(), installed.c_str(), &progress, &sink),
        S_OK);
    const std::string log = ReadAll(answers);
    const std::size_t last = log.rfind('\n', log.size() - 2);
    EXPECT_EQ(log.substr(last == std::string::npos ? 0 : last + 1),
              std::to_string(c.status) + " /FerroVanService/WebService/Downloads/kept.bin\n");
    EXPECT_TRUE(ReadAll(installed) == *c.content) << "the file in place differs";
    EXPECT_TRUE(sink.seen == *c.content) << "the sink saw other bytes";
    // Taken from the kept copy, it shows as done, with its size.
    const std::vector<Notification> notes = progress.DataNotes();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().progress, c.content->size());
    EXPECT_EQ(notes.back().total, c.content->size());
    EXPECT_TRUE(std::filesystem::equivalent(keptCopy(), installed))
        << "the kept copy is no hard link";
    EXPECT_TRUE(CopiesInTemp().empty()) << "a copy is left in Temp";
  }
}

// Puts a copy in the internet cache that claims to be good for another day.
void SeedStaleCopy(const std::wstring& url, const std::string& content) {
  wchar_t file[MAX_PATH] = L"";
  ASSERT_TRUE(CreateUrlCacheEntryW(url.c_str(), 0, L"bin", file, 0));
  WriteAll(file, content);
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER later{};
  later.LowPart = now.dwLowDateTime;
  later.HighPart = now.dwHighDateTime;
  later.QuadPart += 24ull * 3600 * 10000000;
  const FILETIME expires{later.LowPart, later.HighPart};
  std::wstring headers = L"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_wstring(content.size()) +
                         L"\r\nCache-Control: max-age=86400\r\n\r\n";
  ASSERT_TRUE(CommitUrlCacheEntryW(url.c_str(), file, expires, now, NORMAL_CACHE_ENTRY,
                                   headers.data(), static_cast<DWORD>(headers.size()), nullptr,
                                   nullptr));
}

TEST_F(UrlMonikerTest, EveryDownloadAsksTheServerAnew) {
  const std::wstring url = base_ + L"fresh.dll";
  for (bool toCache : {true, false}) {
    SCOPED_TRACE(toCache ? "to the cache" : "to a file");
    SeedStaleCopy(url, "stale copy");
    for (const char* version : {"first version", "second version, longer"}) {
      Serve(L"fresh.dll", version);
      std::wstring path;
      if (toCache) {
        ASSERT_EQ(ToCache(url, path, nullptr), S_OK);
      } else {
        path = Scratch(L"fresh.dll");
        ASSERT_EQ(platform::Downloads().DownloadToFile(url.c_str(), path.c_str(), nullptr, nullptr),
                  S_OK);
      }
      EXPECT_EQ(ReadAll(platform::WideHostPath(path)), version);
    }
  }
}

// Trusts a certificate in the prefix's root store for one scope.
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
      return;
    }
    der_.resize(size);
    if (CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                             der_.data(), &size, nullptr, nullptr)) {
      added_ = CertAddEncodedCertificateToSystemStoreW(L"Root", der_.data(), size) != FALSE;
    }
  }
  ~TrustedRoot() {
    if (!added_) {
      return;
    }
    // The user's own registry store, where it was added: deleting through the system's
    // collection of stores leaves it there under Wine.
    const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                           CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    const PCCERT_CONTEXT certificate = CertCreateCertificateContext(
        X509_ASN_ENCODING, der_.data(), static_cast<DWORD>(der_.size()));
    if (store != nullptr && certificate != nullptr) {
      const PCCERT_CONTEXT found = CertFindCertificateInStore(
          store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
      if (found != nullptr) {
        CertDeleteCertificateFromStore(found);  // frees found
      }
    }
    if (certificate != nullptr) {
      CertFreeCertificateContext(certificate);
    }
    if (store != nullptr) {
      CertCloseStore(store, 0);
    }
  }
  TrustedRoot(const TrustedRoot&) = delete;
  TrustedRoot& operator=(const TrustedRoot&) = delete;
  bool Added() const { return added_; }

 private:
  std::vector<BYTE> der_;
  bool added_ = false;
};

TEST_F(UrlMonikerTest, HttpsNeedsACertificateTheSystemTrusts) {
  const std::wstring httpsBase = Env("FERROVAN_TEST_HTTPS_SERVER");
  const std::wstring ca = Env("FERROVAN_TEST_CA");
  ASSERT_FALSE(httpsBase.empty() || ca.empty());
  const std::string body = Pattern(70000, 3);
  Serve(L"secure.dll", body);
  const std::wstring untrustedBase = Env("FERROVAN_TEST_UNTRUSTED_SERVER");
  ASSERT_FALSE(untrustedBase.empty());
  const std::wstring url = httpsBase + L"secure.dll";
  // The CA is trusted first: Wine remembers a server's failed verification for the process.
  TrustedRoot trusted(ReadAll(ca));
  ASSERT_TRUE(trusted.Added());
  RecordingCallback progress;
  std::wstring path;
  ASSERT_EQ(ToCache(url, path, &progress), S_OK);
  EXPECT_TRUE(ReadAll(platform::WideHostPath(path)) == body);
  ExpectDeviceProgress(progress.DataNotes(), url, body.size());
  // The same files from a server whose certificate another CA signed.
  EXPECT_NE(ToCache(untrustedBase + L"secure.dll", path, nullptr), S_OK) << "an unknown CA passed";
  EXPECT_EQ(path, L"");
  // From HTTPS, a redirect is followed to HTTPS only: plain HTTP would hand the file to anyone
  // on the way.
  ASSERT_EQ(ToCache(httpsBase + L"toSecure", path, nullptr), S_OK);
  EXPECT_TRUE(ReadAll(platform::WideHostPath(path)) == body);
  EXPECT_NE(ToCache(httpsBase + L"toPlain", path, nullptr), S_OK) << "HTTPS fell to HTTP";
  EXPECT_EQ(path, L"");
}

// The bridge on its own, as COM's rules require of it.
TEST(BindStatusBridgeTest, AnswersForItsInterfacesOnlyAndCountsReferences) {
  RecordingCallback target;
  BindStatusBridge* bridge = BindStatusBridge::Create(&target, L"http://server/a.dll");
  ASSERT_EQ(BindStatusBridge::Live(), 1);
  IUnknown* identity = static_cast<IBindStatusCallback*>(bridge);
  struct Case {
    const char* name;
    const IID* iid;
    void* expected;
  };
  const Case cases[] = {
      {"IUnknown", &IID_IUnknown, identity},
      {"IBindStatusCallback", &IID_IBindStatusCallback, static_cast<IBindStatusCallback*>(bridge)},
      {"IHttpNegotiate", &IID_IHttpNegotiate, static_cast<IHttpNegotiate*>(bridge)},
      {"IServiceProvider", &IID_IServiceProvider, static_cast<IServiceProvider*>(bridge)},
      {"IBindCallbackRedirect", &IID_IBindCallbackRedirect,
       static_cast<IBindCallbackRedirect*>(bridge)},
      {"IAuthenticate", &IID_IAuthenticate, nullptr},
      {"IWindowForBindingUI", &IID_IWindowForBindingUI, nullptr},
      {"IHttpSecurity", &IID_IHttpSecurity, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* object = reinterpret_cast<void*>(0x1);
    const HRESULT result = bridge->QueryInterface(*c.iid, &object);
    if (c.expected == nullptr) {
      EXPECT_EQ(result, E_NOINTERFACE);
      EXPECT_EQ(object, nullptr);
      continue;
    }
    ASSERT_EQ(result, S_OK);
    EXPECT_EQ(object, c.expected);
    // The reference it gave; asked through the other interface, identity holds.
    IUnknown* again = nullptr;
    ASSERT_EQ(static_cast<IHttpNegotiate*>(bridge)->QueryInterface(
                  IID_IUnknown, reinterpret_cast<void**>(&again)),
              S_OK);
    EXPECT_EQ(again, identity);
    EXPECT_EQ(again->Release(), 2u);
    EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 1u);
  }
  EXPECT_EQ(bridge->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(bridge->AddRef(), 2u);
  EXPECT_EQ(static_cast<IHttpNegotiate*>(bridge)->AddRef(), 3u);
  EXPECT_EQ(bridge->Release(), 2u);
  EXPECT_EQ(static_cast<IHttpNegotiate*>(bridge)->Release(), 1u);
  EXPECT_EQ(BindStatusBridge::Live(), 1);
  EXPECT_EQ(bridge->Release(), 0u);
  EXPECT_EQ(BindStatusBridge::Live(), 0) << "not deleted at 0";
}

TEST(BindStatusBridgeTest, RefusesARedirectFromHttpsToAnythingElseAndAnEleventh) {
  struct Case {
    const wchar_t* from;
    const wchar_t* to;
    bool refused;
  } cases[] = {
      {L"https://server/a.dll", L"http://server/a.dll", true},
      {L"HTTPS://server/a.dll", L"ftp://server/a.dll", true},
      {L"https://server/a.dll", L"HTTPS://cdn/a.dll", false},
      {L"https://server/a.dll", L"/elsewhere/a.dll", false},  // the same scheme
      {L"https://server/a.dll", L"//cdn/a.dll", false},
      {L"http://server/a.dll", L"http://cdn/a.dll", false},
      {L"http://server/a.dll", L"https://cdn/a.dll", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
    BindStatusBridge* bridge = BindStatusBridge::Create(nullptr, c.from);
    void* service = nullptr;
    ASSERT_EQ(bridge->QueryService(IID_IBindCallbackRedirect, IID_IBindCallbackRedirect, &service),
              S_OK);
    VARIANT_BOOL cancel = VARIANT_TRUE;
    EXPECT_EQ(static_cast<IBindCallbackRedirect*>(service)->Redirect(c.to, &cancel), S_OK);
    EXPECT_EQ(cancel, c.refused ? VARIANT_TRUE : VARIANT_FALSE);
    EXPECT_EQ(bridge->RedirectRefused(), c.refused);
    static_cast<IBindCallbackRedirect*>(service)->Release();
    bridge->Release();
  }
  BindStatusBridge* bridge = BindStatusBridge::Create(nullptr, L"http://server/a.dll");
  VARIANT_BOOL cancel = VARIANT_FALSE;
  for (int hop = 1; hop <= BindStatusBridge::kMaxRedirects; ++hop) {
    bridge->Redirect(L"http://server/next", &cancel);
    EXPECT_EQ(cancel, VARIANT_FALSE) << hop;
  }
  bridge->Redirect(L"http://server/next", &cancel);
  EXPECT_EQ(cancel, VARIANT_TRUE) << "an eleventh redirect was followed";
  bridge->Release();
}

TEST(BindStatusBridgeTest, AsksForFreshCopiesAndJudgesTheResponse) {
  BindStatusBridge* bridge = BindStatusBridge::Create(nullptr, L"http://server/a.dll");
  DWORD flags = BINDF_ASYNCHRONOUS;
  BINDINFO info{};
  info.cbSize = sizeof(info);
  info.dwBindVerb = BINDVERB_POST;
  ASSERT_EQ(bridge->GetBindInfo(&flags, &info), S_OK);
  for (DWORD needed :
       {BINDF_ASYNCHRONOUS, BINDF_GETNEWESTVERSION, BINDF_RESYNCHRONIZE, BINDF_PRAGMA_NO_CACHE}) {
    EXPECT_EQ(flags & needed, static_cast<DWORD>(needed)) << std::hex << needed;
  }
  EXPECT_EQ(info.cbSize, sizeof(info));
  EXPECT_EQ(info.dwBindVerb, static_cast<DWORD>(BINDVERB_GET));

  struct Case {
    DWORD status;
    const wchar_t* headers;
    std::int64_t length;
  };
  const Case cases[] = {
      {200, L"HTTP/1.1 200 OK\r\nContent-Length: 12\r\nContent-Type: x\r\n\r\n", 12},
      {200, L"HTTP/1.1 200 OK\r\ncontent-length:  7 \r\n\r\n", 7},
      {200, L"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 12\r\n\r\n", -1},
      {200, L"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", -1},
      {200, L"HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n", -1},
      {404, L"HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\n", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.status << " " << c.length);
    LPWSTR extra = reinterpret_cast<LPWSTR>(0x1);
    EXPECT_EQ(bridge->OnResponse(c.status, c.headers, L"", &extra), S_OK);
    EXPECT_EQ(extra, nullptr);
    EXPECT_EQ(bridge->HttpStatus(), c.status);
    EXPECT_EQ(bridge->AnnouncedLength(), c.length);
  }
  // After an error status the rest of the error page is not fetched.
  EXPECT_EQ(bridge->OnProgress(10, 10, BINDSTATUS_DOWNLOADINGDATA, L"x"), E_ABORT);
  EXPECT_EQ(bridge->Release(), 0u);
}

}  // namespace
