// Recording stand-ins for the platform services the loader core drives, and a fixture that puts
// them in place over a scratch device root.
#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "platform/device_root.h"
#include "platform/download.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "platform/threads.h"
#include "tests/support/fake_front_end.h"
#include "tests/support/temp_dir.h"

namespace loader_test {

using platform::CreateFolderResult;

class FakeFiles : public platform::FileService {
 public:
  CreateFolderResult CreateFolder(const wchar_t* path) override {
    createdFolders.push_back(path);
    auto found = folderResults.find(path);
    return found != folderResults.end() ? found->second : CreateFolderResult::Created;
  }
  std::uint32_t GetAttributes(const wchar_t* path) override {
    asked.push_back(path);
    return present.count(path) != 0 ? platform::FILE_ATTRIBUTE_NORMAL
                                    : platform::INVALID_FILE_ATTRIBUTES;
  }
  bool DeleteFile(const wchar_t* path) override {
    deleted.push_back(path);
    return true;
  }
  bool MoveFile(const wchar_t* from, const wchar_t* to) override {
    moved.emplace_back(from, to);
    return true;
  }
  std::unique_ptr<platform::FileSearch> FindFiles(const wchar_t*) override { return nullptr; }
  bool FreeBytesAvailable(const wchar_t*, std::uint64_t& bytes) override {
    bytes = freeBytes;
    return freeSpaceKnown;
  }

  std::map<std::wstring, CreateFolderResult> folderResults;
  std::set<std::wstring> present;
  bool freeSpaceKnown = false;
  std::uint64_t freeBytes = 0;
  std::vector<std::wstring> createdFolders, asked, deleted;
  std::vector<std::pair<std::wstring, std::wstring>> moved;
};

class FakeProcesses : public platform::ProcessService {
 public:
  bool Start(const wchar_t* file, const wchar_t* parameters, bool wait) override {
    starts.emplace_back(file, parameters, wait);
    return true;
  }
  std::unique_ptr<platform::ProcessSnapshot> TakeSnapshot() override {
    return std::make_unique<platform::ProcessSnapshot>(std::vector<platform::ProcessEntry>());
  }
  bool Terminate(std::uint32_t) override { return false; }

  std::vector<std::tuple<std::wstring, std::wstring, bool>> starts;
};

// Every fetch fails unless succeed is set; a successful one names a cache file in Temp.
class FakeDownloads : public platform::DownloadService {
 public:
  platform::HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                                        platform::IBindStatusCallback*) override {
    urls.push_back(url);
    if (!succeed) {
      return platform::E_FAIL;
    }
    std::swprintf(cachePath.data(), cachePath.size(), L"Temp\\cache%zu", urls.size());
    return platform::S_OK;
  }
  platform::HRESULT DownloadToFile(const wchar_t* url, const wchar_t*,
                                   platform::IBindStatusCallback*) override {
    urls.push_back(url);
    return succeed ? platform::S_OK : platform::E_FAIL;
  }

  bool succeed = false;
  std::vector<std::wstring> urls;
};

class FakeShell : public platform::ShellService {
 public:
  bool CreateShortcut(const wchar_t* shortcut, const wchar_t*) override {
    shortcuts.push_back(shortcut);
    return true;
  }
  std::vector<std::wstring> shortcuts;
};

class FakeSystemInfo : public platform::SystemInfoService {
 public:
  bool QueryVersion(bool& isWindowsCe) override {
    isWindowsCe = windowsCe;
    return versionOk;
  }
  bool QueryPlatformType(std::span<wchar_t> type) override {
    ++typeQueries;
    std::swprintf(type.data(), type.size(), L"%ls", platformType.c_str());
    return typeOk;
  }

  bool versionOk = true;
  bool windowsCe = true;
  bool typeOk = true;
  std::wstring platformType = L"PocketPC";
  int typeQueries = 0;
};

// Records the threads it is asked for without running them.
class FakeThreads : public platform::ThreadService {
 public:
  bool StartDetached(platform::ThreadEntry entry, void* parameter) override {
    starts.emplace_back(entry, parameter);
    return canStart;
  }
  bool canStart = true;
  std::vector<std::pair<platform::ThreadEntry, void*>> starts;
};

// The services of a device kept in a scratch root; the settings file stays a real file there.
class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() { platform::SetDeviceRoot(root.Path()); }

  std::string InstallFolder() const { return root / "Program Files/FerroVanMobile"; }
  void WriteSettings(const std::string& address) {
    testing_support::WriteFile(InstallFolder() + "/RFConfig.xml",
                               "<?xml version=\"1.0\"?>\n<Config>\n\t<WebHostName>" + address +
                                   "</WebHostName>\n</Config>\n");
  }

  testing_support::TempDir root;
  testing_support::FakeFrontEnd frontEnd;
  FakeFiles files;
  FakeProcesses processes;
  FakeDownloads downloads;
  FakeShell shell;
  FakeSystemInfo systemInfo;
  platform::ScopedService<platform::DialogFrontEnd> frontEndGuard{frontEnd};
  platform::ScopedService<platform::FileService> filesGuard{files};
  platform::ScopedService<platform::ProcessService> processesGuard{processes};
  platform::ScopedService<platform::DownloadService> downloadsGuard{downloads};
  platform::ScopedService<platform::ShellService> shellGuard{shell};
  platform::ScopedService<platform::SystemInfoService> systemInfoGuard{systemInfo};
};

}  // namespace loader_test
