#include "settings/download_url.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/device/device_fixture.h"

namespace {

using DownloadUrlTest = testing_support::DeviceTest;

TEST(SchemeTest, RecognisesHttpAndHttpsInAnyCase) {
  struct Case {
    const wchar_t* address;
    bool http;
    bool https;
  };
  for (const Case& c : {Case{L"http://server", true, false}, Case{L"HTTP://server", true, false},
                        Case{L"Http://", true, false}, Case{L"hTtPs://server", false, true},
                        Case{L"HTTPS://", false, true}, Case{L"http:/server", false, false},
                        Case{L"ftp://server", false, false}, Case{L"http", false, false},
                        Case{L"https:/", false, false}, Case{L"", false, false}}) {
    SCOPED_TRACE(testing_support::Narrow(c.address));
    EXPECT_EQ(HasHttpPrefix(c.address), c.http);
    EXPECT_EQ(HasHttpsPrefix(c.address), c.https);
  }
  EXPECT_FALSE(HasHttpPrefix(nullptr));
  EXPECT_FALSE(HasHttpsPrefix(nullptr));
  EXPECT_TRUE(MatchesPrefix(nullptr, L"", L"", 0));
  EXPECT_TRUE(MatchesPrefix(L"aBc", L"abx", L"ABX", 2));
}

TEST_F(DownloadUrlTest, BuildsTheAddressesOfTheWorkedExamples) {
  struct Case {
    const wchar_t* before;
    const wchar_t* file;
    const wchar_t* url;
    const wchar_t* after;
  };
  const Case cases[] = {
      {L"server", L"Solvane.Mobile.Common.dll",
       L"http://server/FerroVanService/WebService/Downloads/Solvane.Mobile.Common.dll", L"server/"},
      {L"10.0.0.5:8080/", L"Solvane.FerroVan.Mobile.Client.exe",
       L"http://10.0.0.5:8080/FerroVanService/WebService/Downloads/"
       L"Solvane.FerroVan.Mobile.Client.exe",
       L"10.0.0.5:8080/"},
      {L"http://10.0.0.5:8080/FerroVanService", L"FerroVan.Mobile.Client.Load.exe",
       L"http://10.0.0.5:8080/FerroVanService/WebService/Downloads/"
       L"FerroVan.Mobile.Client.Load.exe",
       L"http://10.0.0.5:8080/FerroVanService/"},
      {L"HTTPS://server/apps/FerroVanService/", L"Solvane.Mobile.Common.dll",
       L"HTTPS://server/apps/FerroVanService/WebService/Downloads/Solvane.Mobile.Common.dll",
       L"HTTPS://server/apps/FerroVanService/"},
      {L"http://server", L"Solvane.Mobile.Common.dll",
       L"http://server/WebService/Downloads/Solvane.Mobile.Common.dll", L"http://server/"},
      {L"server/FerroVanService", L"Solvane.Mobile.Common.dll",
       L"http://server/FerroVanService/FerroVanService/WebService/Downloads/"
       L"Solvane.Mobile.Common.dll",
       L"server/FerroVanService/"},
      {L"ftp://server", L"a.dll", L"http://ftp://server/FerroVanService/WebService/Downloads/a.dll",
       L"ftp://server/"},
      {L"http://", L"a.dll", L"http://WebService/Downloads/a.dll", L"http://"},
      {L"server\\", L"a.dll", L"http://server\\/FerroVanService/WebService/Downloads/a.dll",
       L"server\\/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing_support::Narrow(c.before));
    platform::CopyText(context.serverAddress, c.before);
    wchar_t url[MAX_PATH];
    EXPECT_TRUE(BuildDownloadUrl(&context, url, c.file));
    EXPECT_STREQ(url, c.url);
    EXPECT_STREQ(context.serverAddress, c.after);
  }
}

TEST_F(DownloadUrlTest, RefusesAddressesAndUrlsThatDoNotFit) {
  wchar_t url[MAX_PATH] = L"stale";

  const std::wstring full(MAX_PATH - 1, L's');
  platform::CopyText(context.serverAddress, full.c_str());
  EXPECT_FALSE(BuildDownloadUrl(&context, url, L"a.dll"));
  EXPECT_STREQ(url, L"");
  EXPECT_EQ(context.serverAddress, full);

  const std::wstring room(MAX_PATH - 2, L's');
  platform::CopyText(context.serverAddress, room.c_str());
  EXPECT_FALSE(BuildDownloadUrl(&context, url, L"a.dll"));
  EXPECT_STREQ(url, L"");
  EXPECT_EQ(context.serverAddress, room + L"/");

  // The longest URL that fits: 259 characters.
  const std::wstring prefix = L"http://server/FerroVanService/WebService/Downloads/";
  const std::wstring name(MAX_PATH - 1 - prefix.size(), L'n');
  platform::CopyText(context.serverAddress, L"server");
  EXPECT_TRUE(BuildDownloadUrl(&context, url, name.c_str()));
  EXPECT_EQ(url, prefix + name);
  EXPECT_FALSE(BuildDownloadUrl(&context, url, (name + L"n").c_str()));
  EXPECT_STREQ(url, L"");

  context.serverAddress[0] = L'\0';
  EXPECT_FALSE(BuildDownloadUrl(&context, url, L"a.dll"));
  EXPECT_STREQ(context.serverAddress, L"");
}

TEST(ReplaceFirstOccurrenceTest, ReplacesOnlyTheFirstExactMarker) {
  struct Case {
    const wchar_t* source;
    const wchar_t* marker;
    const wchar_t* result;  // null: no occurrence
  };
  for (const Case& c :
       {Case{L"Scanner.CE.dll", L".CE.", L"Scanner.dll"},
        Case{L"A.CE.B.CE.dll", L".CE.", L"A.B.CE.dll"},
        Case{L"Scanner.wm.dll", L".wm.", L"Scanner.dll"}, Case{L".CE.", L".CE.", L"."},
        Case{L"Scanner.ce.dll", L".CE.", nullptr}, Case{L"Scanner.CE", L".CE.", nullptr},
        Case{L"Scanner.wm.dll", L".CE.", nullptr}}) {
    SCOPED_TRACE(testing_support::Narrow(c.source));
    wchar_t out[MAX_PATH] = L"untouched";
    EXPECT_EQ(ReplaceFirstOccurrence(out, c.source, c.marker, L"."), c.result != nullptr);
    EXPECT_STREQ(out, c.result != nullptr ? c.result : L"untouched");

    wchar_t inPlace[MAX_PATH];
    platform::CopyText(inPlace, c.source);
    ReplaceFirstOccurrence(inPlace, inPlace, c.marker, L".");
    EXPECT_STREQ(inPlace, c.result != nullptr ? c.result : c.source);
  }
}

TEST(ReplaceFirstOccurrenceTest, ResultThatDoesNotFitLeavesTheOutputAlone) {
  const std::wstring source = std::wstring(MAX_PATH - 4, L'a') + L".CE";
  const std::wstring longer = std::wstring(MAX_PATH - 2, L'r');
  wchar_t out[MAX_PATH] = L"untouched";
  EXPECT_FALSE(ReplaceFirstOccurrence(out, source.c_str(), L".CE", longer.c_str()));
  EXPECT_STREQ(out, L"untouched");
  EXPECT_TRUE(ReplaceFirstOccurrence(out, source.c_str(), L".CE", L"bc"));
  EXPECT_EQ(out, std::wstring(MAX_PATH - 4, L'a') + L"bc");
}

}  // namespace
