// The fixture of the device tests: an emulated device in a scratch folder, with the service
// fakes for what a real host cannot produce on demand (free space, processes, the server).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "loader/loader_context.h"
#include "tests/support/service_fakes.h"

namespace testing_support {

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
