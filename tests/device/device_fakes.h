// An emulated device in a scratch folder for the loader's logic, with stand-ins for the services
// whose cases a real host cannot produce on demand (free space, processes, the server).
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loader/loader_context.h"
#include "platform/device_root.h"
#include "platform/download.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/shell.h"
#include "tests/support/fake_front_end.h"
#include "tests/support/temp_dir.h"
#include "tests/support/utf8_text.h"

namespace testing_support {

inline std::string Narrow(const std::wstring& text) {
  return ToUtf8(text);
}
inline std::wstring Wide(const std::string& text) {
  return FromUtf8(text);
}

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
    if (!freeBytes)
      return false;
    bytes = *freeBytes;
    return true;
  }

 private:
  static platform::FileService& Real() { return platform::HostService<platform::FileService>(); }
};

struct StartCall {
  std::wstring file;
  std::wstring parameters;
  bool wait;
};

// Records the programs started and stopped; offers a scripted process table.
class FakeProcesses : public platform::ProcessService {
 public:
  bool startResult = true;
  std::function<void(const StartCall&)> onStart;
  std::optional<std::vector<platform::ProcessEntry>> table;  // none: no snapshot
  std::function<void(std::uint32_t)> onTerminate;
  std::vector<StartCall> starts;
  std::vector<std::uint32_t> terminated;

  void AddProcess(std::uint32_t id, const std::wstring& exeFile) {
    platform::ProcessEntry entry{};
    entry.processId = id;
    exeFile.copy(entry.exeFile, exeFile.size());
    if (!table)
      table.emplace();
    table->push_back(entry);
  }

  bool Start(const wchar_t* file, const wchar_t* parameters, bool wait) override {
    EXPECT_NE(parameters, nullptr);
    starts.push_back({file, parameters != nullptr ? parameters : L"<null>", wait});
    if (onStart)
      onStart(starts.back());
    return startResult;
  }
  std::unique_ptr<platform::ProcessSnapshot> TakeSnapshot() override {
    if (!table)
      return nullptr;
    return std::make_unique<platform::ProcessSnapshot>(*table);
  }
  bool Terminate(std::uint32_t processId) override {
    terminated.push_back(processId);
    if (onTerminate)
      onTerminate(processId);
    return true;
  }
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
    if (!Fetch(url, callback, content) || !Show(sink, content))
      return E_FAIL;
    std::wstring devicePath = L"\\Temp\\cache" + std::to_wstring(urls.size());
    WriteFile(platform::ToHostPath(std::wstring_view(devicePath)), content);
    devicePath.copy(cachePath.data(), devicePath.size());
    cachePath[devicePath.size()] = L'\0';
    return S_OK;
  }
  HRESULT DownloadToFile(const wchar_t* url, const wchar_t* target, IBindStatusCallback* callback,
                         platform::DownloadContentSink* sink) override {
    std::string content;
    bool fetched = Fetch(url, callback, content) && Show(sink, content);
    // A failed transfer leaves what arrived, for the caller to delete.
    WriteFile(platform::ToHostPath(std::wstring_view(target)), fetched ? content : "partial");
    return fetched ? S_OK : E_FAIL;
  }
  void RemoveAbandonedCopies() override {}

 private:
  // The body as the host's downloads show it to a sink: in pieces, as it would arrive.
  static bool Show(platform::DownloadContentSink* sink, const std::string& content) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    for (std::size_t at = 0; sink != nullptr && at < content.size(); at += 1000) {
      if (!sink->Take({bytes + at, std::min<std::size_t>(1000, content.size() - at)}))
        return false;
    }
    return true;
  }
  bool Fetch(const wchar_t* url, IBindStatusCallback* callback, std::string& content) {
    urls.emplace_back(url);
    std::wstring address(url);
    std::string path = folder_ + "/" + Narrow(address.substr(address.rfind(L'/') + 1));
    if (!std::filesystem::is_regular_file(path))
      return false;
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

// A fresh device with the loader's folders, the context of a loader on it whose status line is
// recorded, and the file service's free space under the test's control.
class DeviceTest : public ::testing::Test {
 protected:
  DeviceTest() : rootReady_(Prepare(root_)) {
    context.statusLabel = FakeFrontEnd::Handle(1004);
    MakeFolders(Install(""));
  }

  static bool Prepare(const TempDir& root) {
    platform::SetDeviceRoot(root.Path());
    return platform::CreateSystemFolders();
  }

  // Host paths of device files.
  std::string Device(const std::string& relative) const { return root_ / relative; }
  std::string Install(const std::string& name) const {
    return Device("Program Files/FerroVanMobile/" + name);
  }
  std::vector<std::string> Names(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::wstring> StatusTexts() { return frontEnd.TextsOf(1004); }

  TempDir root_;
  bool rootReady_;
  FakeFrontEnd frontEnd;
  platform::ScopedService<platform::DialogFrontEnd> frontEndGuard{frontEnd};
  SpaceFiles files;
  platform::ScopedService<platform::FileService> filesGuard{files};
  LoaderContext context;
};

}  // namespace testing_support
