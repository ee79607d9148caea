// The stand-ins for the platform services that the tests of the loader's logic put in place
// (platform::ScopedService): recorders of what the logic asked for, with the answers a test
// scripts, and, where the logic needs real files, services over the scratch device root.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/com.h"
#include "platform/device_lock.h"
#include "platform/device_root.h"
#include "platform/download.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/processes.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "platform/threads.h"
#include "tests/support/fake_front_end.h"
#include "tests/support/temp_dir.h"
#include "tests/support/utf8_text.h"

namespace testing_support {

using platform::CreateFolderResult;

inline std::string Narrow(const std::wstring& text) {
  return ToUtf8(text);
}
inline std::wstring Wide(const std::string& text) {
  return FromUtf8(text);
}

// Files that are only recorded and scripted: nothing on disk changes, a path exists when it is
// in present.
class ScriptedFiles : public platform::FileService {
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
  bool IsReachedThroughLink(const wchar_t* path) override {
    linkChecks.push_back(path);
    return linked.count(path) != 0;
  }

  std::map<std::wstring, CreateFolderResult> folderResults;
  std::set<std::wstring> present;
  // Device folders reached through a link.
  std::set<std::wstring> linked;
  std::vector<std::wstring> linkChecks;
  bool freeSpaceKnown = false;
  std::uint64_t freeBytes = 0;
  std::vector<std::wstring> createdFolders, asked, deleted;
  std::vector<std::pair<std::wstring, std::wstring>> moved;
};

// The real files of the device, with the free space of the test's choosing (none: the query
// fails).
class SpaceFiles : public platform::FileService {
 public:
  std::optional<std::uint64_t> freeBytes = std::uint64_t{1} << 30;
  std::vector<std::wstring> freeQueries;

  platform::CreateFolderResult CreateFolder(const wchar_t* path) override {
    return Real().CreateFolder(path);
  }
  DWORD GetAttributes(const wchar_t* path) override { return Real().GetAttributes(path); }
  bool DeleteFile(const wchar_t* path) override { return Real().DeleteFile(path); }
  bool MoveFile(const wchar_t* from, const wchar_t* to) override {
    return Real().MoveFile(from, to);
  }
  std::unique_ptr<platform::FileSearch> FindFiles(const wchar_t* pattern) override {
    return Real().FindFiles(pattern);
  }
  bool FreeBytesAvailable(const wchar_t* path, std::uint64_t& bytes) override {
    freeQueries.emplace_back(path);
    if (!freeBytes) {
      return false;
    }
    bytes = *freeBytes;
    return true;
  }
  bool IsReachedThroughLink(const wchar_t* path) override {
    return Real().IsReachedThroughLink(path);
  }

 private:
  static platform::FileService& Real() { return platform::HostService<platform::FileService>(); }
};

struct StartCall {
  std::wstring file;
  std::wstring parameters;
  bool wait;
  bool operator==(const StartCall&) const = default;
};

inline void PrintTo(const StartCall& call, std::ostream* out) {
  *out << "{" << Narrow(call.file) << ", " << Narrow(call.parameters) << ", "
       << (call.wait ? "wait" : "no wait") << "}";
}

// Records the programs started and stopped; a start fails when startResult is false or the
// program is unstartable. The process table is scripted (none: no snapshot can be taken).
class FakeProcesses : public platform::ProcessService {
 public:
  bool startResult = true;
  std::set<std::wstring> unstartable;
  std::function<void(const StartCall&)> onStart;
  std::optional<std::vector<platform::ProcessEntry>> table;
  std::function<void(std::uint32_t)> onTerminate;
  std::vector<StartCall> starts;
  std::vector<std::uint32_t> terminated;

  void AddProcess(std::uint32_t id, const std::wstring& exeFile) {
    platform::ProcessEntry entry{};
    entry.processId = id;
    exeFile.copy(entry.exeFile, exeFile.size());
    if (!table) {
      table.emplace();
    }
    table->push_back(entry);
  }

  bool Start(const wchar_t* file, const wchar_t* parameters, bool wait) override {
    EXPECT_NE(parameters, nullptr);
    starts.push_back({file, parameters != nullptr ? parameters : L"<null>", wait});
    if (onStart) {
      onStart(starts.back());
    }
    return startResult && unstartable.count(file) == 0;
  }
  std::unique_ptr<platform::ProcessSnapshot> TakeSnapshot() override {
    if (!table) {
      return nullptr;
    }
    return std::make_unique<platform::ProcessSnapshot>(*table);
  }
  bool Terminate(std::uint32_t processId) override {
    terminated.push_back(processId);
    if (onTerminate) {
      onTerminate(processId);
    }
    return true;
  }
};

// Every fetch fails unless succeed is set; a successful one names a cache file in Temp. While
// runs inside each fetch, as the user's actions would while it waits on the server.
class ScriptedDownloads : public platform::DownloadService {
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
    if (whileFetching) {
      whileFetching();
    }
    return succeed ? S_OK : E_FAIL;
  }
  void RemoveAbandonedCopies() override { ++sweeps; }

  bool succeed = false;
  int sweeps = 0;
  std::function<void()> whileFetching;
  std::vector<std::wstring> urls;
};

// The download service of a server whose files lie in a host folder; a name missing there
// fails. Reports progress as the host's downloads do.
class FolderDownloads : public platform::DownloadService {
 public:
  explicit FolderDownloads(std::string folder) : folder_(std::move(folder)) {}
  std::vector<std::wstring> urls;

  HRESULT DownloadToCacheFile(const wchar_t* url, std::span<wchar_t> cachePath,
                              IBindStatusCallback* callback,
                              platform::DownloadContentSink* sink) override {
    std::string content;
    if (!Fetch(url, callback, content) || !Show(sink, content)) {
      return E_FAIL;
    }
    std::wstring devicePath = L"\\Temp\\cache" + std::to_wstring(urls.size());
    WriteFile(platform::ToHostPath(std::wstring_view(devicePath)), content);
    devicePath.copy(cachePath.data(), devicePath.size());
    cachePath[devicePath.size()] = L'\0';
    return S_OK;
  }
  HRESULT DownloadToFile(const wchar_t* url, const wchar_t* target, IBindStatusCallback* callback,
                         platform::DownloadContentSink* sink) override {
    std::string content;
    if (!Fetch(url, callback, content) || !Show(sink, content)) {
      return E_FAIL;  // the target stays as it was
    }
    WriteFile(platform::ToHostPath(std::wstring_view(target)), content);
    return S_OK;
  }
  void RemoveAbandonedCopies() override {}

 private:
  // The body as the host's downloads show it to a sink: in pieces, as it would arrive, cut off
  // at the sink's bound, and judged by the sink once whole.
  static bool Show(platform::DownloadContentSink* sink, const std::string& content) {
    if (sink == nullptr) {
      return true;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    const std::size_t shown =
        static_cast<std::size_t>(std::min<std::uint64_t>(content.size(), sink->MaxBytes()));
    for (std::size_t at = 0; at < shown; at += 1000) {
      if (!sink->Take({bytes + at, std::min<std::size_t>(1000, shown - at)})) {
        return false;
      }
    }
    if (shown < content.size()) {
      sink->TooLarge();
      return false;
    }
    return sink->Complete();
  }
  bool Fetch(const wchar_t* url, IBindStatusCallback* callback, std::string& content) {
    urls.emplace_back(url);
    std::wstring address(url);
    std::string path = folder_ + "/" + Narrow(address.substr(address.rfind(L'/') + 1));
    if (!std::filesystem::is_regular_file(path)) {
      return false;
    }
    content = ReadFile(path);
    auto size = static_cast<std::uint32_t>(content.size());
    if (callback != nullptr) {
      callback->OnProgress(0, size, BINDSTATUS_BEGINDOWNLOADDATA, url);
      callback->OnProgress(size, size, BINDSTATUS_DOWNLOADINGDATA, url);
    }
    return true;
  }

  std::string folder_;
};

// Writes shortcut files as the device's shell does, and records what it was asked for.
class RecordingShell : public platform::ShellService {
 public:
  std::vector<std::pair<std::wstring, std::wstring>> created;  // (shortcut, target)

  bool CreateShortcut(const wchar_t* shortcut, const wchar_t* target) override {
    created.emplace_back(shortcut, target);
    WriteFile(platform::ToHostPath(std::wstring_view(shortcut)), Narrow(target));
    return true;
  }
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
// A clock that says what the test sets; a failing one when readable is false.
class FakeClock : public platform::ClockService {
 public:
  bool SecondsSinceEpoch(std::int64_t& seconds) override {
    seconds = now;
    return readable;
  }
  std::int64_t now = 0;
  bool readable = true;
};

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
    if (heldElsewhere && waiting) {
      waiting();
    }
    if (!available) {
      return nullptr;
    }
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
      if (auto records = records_.lock()) {
        records->releasedAt.push_back(records->frontEnd.Calls().size());
      }
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

}  // namespace testing_support
