// Recording stand-ins for the platform services the loader core drives, and a fixture that puts
// them in place over a scratch device root.
#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/com.h"
#include "platform/device_lock.h"
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
  DWORD GetAttributes(const wchar_t* path) override {
    asked.push_back(path);
    return present.count(path) != 0 ? FILE_ATTRIBUTE_NORMAL : INVALID_FILE_ATTRIBUTES;
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
    return unstartable.count(file) == 0;
  }
  std::unique_ptr<platform::ProcessSnapshot> TakeSnapshot() override {
    return std::make_unique<platform::ProcessSnapshot>(std::vector<platform::ProcessEntry>());
  }
  bool Terminate(std::uint32_t) override { return false; }

  std::set<std::wstring> unstartable;
  std::vector<std::tuple<std::wstring, std::wstring, bool>> starts;
};

// Every fetch fails unless succeed is set; a successful one names a cache file in Temp. While
// runs inside each fetch, as the user's actions would while it waits on the server.
class FakeDownloads : public platform::DownloadService {
 public:
  HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                              IBindStatusCallback*, platform::DownloadContentSink*) override {
    urls.push_back(url);
    if (whileFetching) {
      whileFetching();
    }
    if (!succeed) {
      return E_FAIL;
    }
    std::swprintf(cachePath.data(), cachePath.size(), L"Temp\\cache%zu", urls.size());
    return S_OK;
  }
  HRESULT DownloadToFile(const wchar_t* url, const wchar_t*, IBindStatusCallback*,
                         platform::DownloadContentSink*) override {
    urls.push_back(url);
    return succeed ? S_OK : E_FAIL;
  }
  void RemoveAbandonedCopies() override { ++sweeps; }

  bool succeed = false;
  int sweeps = 0;
  std::function<void()> whileFetching;
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

// A device lock that notes where, among the front end's calls, it was taken and let go. A lock
// that outlives this fake (a run keeps it until the process ends) is let go unnoted.
class FakeDeviceLock : public platform::DeviceLockService {
 public:
  explicit FakeDeviceLock(testing_support::FakeFrontEnd& frontEnd)
      : records_(std::make_shared<Records>(Records{frontEnd, {}, {}})) {}
  std::unique_ptr<platform::HeldDeviceLock> Take(const std::function<void()>& waiting) override {
    if (heldElsewhere && waiting)
      waiting();
    if (!available)
      return nullptr;
    records_->takenAt.push_back(records_->frontEnd.Calls().size());
    return std::make_unique<Held>(records_);
  }
  const std::vector<std::size_t>& TakenAt() const { return records_->takenAt; }
  const std::vector<std::size_t>& ReleasedAt() const { return records_->releasedAt; }
  void Forget() {
    records_->takenAt.clear();
    records_->releasedAt.clear();
  }

  // Another loader holds the lock: Take has to wait (and then gets it).
  bool heldElsewhere = false;
  bool available = true;

 private:
  struct Records {
    testing_support::FakeFrontEnd& frontEnd;
    std::vector<std::size_t> takenAt, releasedAt;
  };
  class Held : public platform::HeldDeviceLock {
   public:
    explicit Held(const std::shared_ptr<Records>& records) : records_(records) {}
    ~Held() override {
      if (auto records = records_.lock())
        records->releasedAt.push_back(records->frontEnd.Calls().size());
    }

   private:
    std::weak_ptr<Records> records_;
  };

  std::shared_ptr<Records> records_;
};

// Notes where, among the front end's calls, COM was set up and torn down, and on which thread.
class FakeCom : public platform::ComService {
 public:
  explicit FakeCom(testing_support::FakeFrontEnd& frontEnd) : frontEnd_(frontEnd) {}
  void InitializeThread() override { Note(initializedAt); }
  void UninitializeThread() override { Note(uninitializedAt); }
  struct Step {
    std::size_t at;
    std::thread::id thread;
  };
  std::vector<Step> initializedAt, uninitializedAt;

 private:
  void Note(std::vector<Step>& notes) {
    notes.push_back({frontEnd_.Calls().size(), std::this_thread::get_id()});
  }
  testing_support::FakeFrontEnd& frontEnd_;
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
  FakeDeviceLock deviceLock{frontEnd};
  FakeCom com{frontEnd};
  platform::ScopedService<platform::DialogFrontEnd> frontEndGuard{frontEnd};
  platform::ScopedService<platform::FileService> filesGuard{files};
  platform::ScopedService<platform::ProcessService> processesGuard{processes};
  platform::ScopedService<platform::DownloadService> downloadsGuard{downloads};
  platform::ScopedService<platform::ShellService> shellGuard{shell};
  platform::ScopedService<platform::SystemInfoService> systemInfoGuard{systemInfo};
  platform::ScopedService<platform::DeviceLockService> deviceLockGuard{deviceLock};
  platform::ScopedService<platform::ComService> comGuard{com};
};

}  // namespace loader_test
