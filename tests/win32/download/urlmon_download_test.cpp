// What the downloads through the URL moniker do beyond what every host does
// (tests/platform/download_test.cpp), against the download service that
// tests/platform/run_download_test.sh starts: the system's internet cache keeps nothing of them,
// a copy the cache claims fresh is never taken, HTTPS against the system's trust store; and the
// COM object that urlmon binds with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

  std::wstring base_;
  std::wstring folder_;
  std::vector<std::wstring> cleanup_;
};

// The copy has left the internet cache, index entry and all, for the device's Temp.
TEST_F(UrlMonikerTest, AFetchedCopyLeavesNoInternetCacheEntry) {
  Serve(L"whole.bin", Pattern(300000, 7));
  Serve(L"empty.bin", "");
  for (const wchar_t* name : {L"whole.bin", L"empty.bin"}) {
    SCOPED_TRACE(platform::WideToUtf8(name));
    const std::wstring url = base_ + name;
    std::wstring path;
    ASSERT_EQ(ToCache(url, path, nullptr), S_OK);
    EXPECT_FALSE(InCache(url)) << "an index entry names a copy that the loader moves away";
  }
}

TEST_F(UrlMonikerTest, FailedFetchesLeaveNothingInTheInternetCache) {
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
  };
  const std::vector<Case> cases = {
      {"missing on the server (404)", base_ + L"missing.bin", L"missing"},
      {"body cut short", base_ + L"cut.bin", L"cut"},
      {"server unreachable",
       L"http://127.0.0.1:1/FerroVanService/WebService/Downloads/unreachable.bin", L"unreachable"},
      {"a length larger than the device can store", base_ + L"huge.bin", L"huge"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring path;
    EXPECT_NE(ToCache(c.url, path, nullptr), S_OK);
    EXPECT_FALSE(InCache(c.url)) << "a cache entry is left";
    // Wine makes an empty file in the cache before it connects and leaves it when the
    // connection fails; no entry names it and nothing is served from it.
    EXPECT_TRUE(FilesStartingWith(cacheRoot, c.stem, true).empty()) << "a cache copy is left";
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
  const std::vector<Notification> notes = progress.DataNotes();
  ASSERT_GE(notes.size(), 2u);
  EXPECT_EQ(notes.front().status, BINDSTATUS_BEGINDOWNLOADDATA);
  EXPECT_EQ(notes.back().status, BINDSTATUS_ENDDOWNLOADDATA);
  EXPECT_EQ(notes.back().progress, body.size());
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
