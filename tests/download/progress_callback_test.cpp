#include "download/progress_callback.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/device/device_fixture.h"

namespace {

TEST(FormatByteCountTest, UsesDecimalUnits) {
  struct Case {
    std::uint32_t count;
    const wchar_t* text;
  };
  for (const Case& c : {Case{0, L"0 bytes"}, Case{999, L"999 bytes"}, Case{1000, L"1 KB"},
                        Case{1999, L"1 KB"}, Case{999999, L"999 KB"}, Case{1000000, L"1.00 MB"},
                        Case{1310720, L"1.31 MB"}, Case{999999999, L"1000.00 MB"},
                        Case{1000000000, L"1000.00 MB"}, Case{4294967295u, L"4294.97 MB"}}) {
    SCOPED_TRACE(c.count);
    wchar_t out[MAX_PATH] = L"stale";
    FormatByteCount(c.count, out);
    EXPECT_STREQ(out, c.text);
  }
}

using ProgressTest = testing_support::DeviceTest;

TEST_F(ProgressTest, ShowsTheFileNameAndTheCounts) {
  DownloadProgressCallback callback(&context);
  const wchar_t* url =
      L"http://server/FerroVanService/WebService/Downloads/Solvane.Mobile.Common.dll";
  EXPECT_EQ(callback.OnProgress(524288, 1310720, BINDSTATUS_DOWNLOADINGDATA, url), S_OK);
  EXPECT_EQ(callback.OnProgress(1000, 0, BINDSTATUS_BEGINDOWNLOADDATA, url), S_OK);
  EXPECT_EQ(StatusTexts(),
            (std::vector<std::wstring>{
                L"Solvane.Mobile.Common.dll\r\nDownloaded 524 KB of 1.31 MB",
                L"Solvane.Mobile.Common.dll\r\nDownloaded 1 KB (total size unknown)"}));
}

TEST_F(ProgressTest, TakesTheNameAfterTheLastSlash) {
  DownloadProgressCallback callback(&context);
  struct Case {
    const wchar_t* statusText;
    const wchar_t* name;
  };
  for (const Case& c : {Case{L"a/b/c.dll", L"c.dll"}, Case{L"plain.dll", L"plain.dll"},
                        Case{L"http://server/", L""}, Case{L"/lead.dll", L"/lead.dll"},
                        Case{L"", L""}, Case{nullptr, L""}}) {
    callback.OnProgress(5, 10, BINDSTATUS_DOWNLOADINGDATA, c.statusText);
    EXPECT_EQ(frontEnd.TextOf(1004), std::wstring(c.name) + L"\r\nDownloaded 5 bytes of 10 bytes");
  }
}

TEST_F(ProgressTest, IgnoresOtherNotificationsAndSlots) {
  DownloadProgressCallback callback(&context);
  for (std::uint32_t status : {0u, 1u, 2u, 3u, 6u, 7u, 13u}) {
    EXPECT_EQ(callback.OnProgress(1, 2, status, L"http://server/x.dll"), S_OK);
  }
  EXPECT_TRUE(StatusTexts().empty());

  void* object = &callback;
  EXPECT_EQ(callback.QueryInterface(IID_IUnknown, &object), E_NOTIMPL);
  EXPECT_EQ(object, &callback);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(callback.AddRef(), 0u);
    EXPECT_EQ(callback.Release(), 0u);
  }
  EXPECT_EQ(callback.OnStartBinding(0, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback.GetPriority(nullptr), E_NOTIMPL);
  EXPECT_EQ(callback.OnLowResource(0), E_NOTIMPL);
  EXPECT_EQ(callback.OnStopBinding(S_OK, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback.GetBindInfo(nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback.OnDataAvailable(0, 0, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(callback.OnObjectAvailable(IID_IBindStatusCallback, nullptr), E_NOTIMPL);
}

}  // namespace
