// The built loader as the system and Explorer see it: a GUI program (no console window beside
// the dialog), with a manifest that asks for the user's own rights, DPI awareness and the
// current common controls, and a version resource that says what the file is.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

namespace {

std::wstring LoaderPath() {
  const std::string path = FERROVAN_LOADER_PATH;
  return std::wstring(path.begin(), path.end());
}

std::vector<char> ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

TEST(LoaderProgramFile, IsAGuiProgram) {
  const std::vector<char> file = ReadFile(LoaderPath());
  ASSERT_GT(file.size(), sizeof(IMAGE_DOS_HEADER));
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, file.data(), sizeof dos);
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  ASSERT_LE(static_cast<std::size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64), file.size());
  IMAGE_NT_HEADERS64 headers;
  std::memcpy(&headers, file.data() + dos.e_lfanew, sizeof headers);
  ASSERT_EQ(headers.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(headers.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST(LoaderProgramFile, CarriesItsManifest) {
  const HMODULE module = LoadLibraryExW(LoaderPath().c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << GetLastError();
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr) << "no manifest (RT_MANIFEST 1)";
  const HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  ASSERT_NE(data, nullptr);
  const std::string manifest(data, SizeofResource(module, found));
  for (const char* part :
       {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"",
        "PerMonitorV2", "true/pm", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
  EXPECT_NE(manifest.find("version=\"" FERROVAN_VERSION ".0\""), std::string::npos) << manifest;
  FreeLibrary(module);
}

std::wstring VersionText(const std::vector<char>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || value == nullptr) {
    return L"(missing)";
  }
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(LoaderProgramFile, SaysWhatItIsAndWhichVersion) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(LoaderPath().c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource";
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(LoaderPath().c_str(), 0, size, info.data()));
  EXPECT_EQ(VersionText(info, L"ProductName"), L"Quillmar RF Loader");
  EXPECT_EQ(VersionText(info, L"FileVersion"), Widen(FERROVAN_VERSION));
  EXPECT_EQ(VersionText(info, L"ProductVersion"), Widen(FERROVAN_VERSION));
  EXPECT_EQ(VersionText(info, L"OriginalFilename"), L"FerroVan.Mobile.Client.Load.exe");
  EXPECT_NE(VersionText(info, L"FileDescription"), L"(missing)");

  void* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &fixed, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* numbers = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  EXPECT_EQ(numbers->dwFileType, static_cast<DWORD>(VFT_APP));
  const std::string version = FERROVAN_VERSION;
  const std::string shown = std::to_string(HIWORD(numbers->dwFileVersionMS)) + "." +
                            std::to_string(LOWORD(numbers->dwFileVersionMS)) + "." +
                            std::to_string(HIWORD(numbers->dwFileVersionLS));
  EXPECT_EQ(shown, version);
}

}  // namespace
