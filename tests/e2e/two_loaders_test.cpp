// Two loaders on one device root, the second started while the first installation is still
// fetching the client's files: the second waits, and no client ever starts on a missing or
// partly written file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/loopback_device.h"

namespace testing_support {
namespace {

// "SIZE:HASH" as the demo client describes a file (64-bit FNV-1a, in hex).
std::string Describe(const std::string& content) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char byte : content)
    hash = (hash ^ byte) * 0x100000001b3u;
  char text[64];
  std::snprintf(text, sizeof text, "%zu:%016llx", content.size(),
                static_cast<unsigned long long>(hash));
  return text;
}

// What the install folder held at each start of the client: file name to "SIZE:HASH".
std::vector<std::map<std::string, std::string>> InventoriesAtStart(const Device& device) {
  std::vector<std::map<std::string, std::string>> starts;
  std::istringstream log(ReadFile(device.Path("demo-client.inventory")));
  for (std::string line; std::getline(log, line);) {
    std::map<std::string, std::string>& files = starts.emplace_back();
    std::istringstream entries(line);
    for (std::string entry; std::getline(entries, entry, '\t');) {
      const std::size_t colon = entry.find(':');
      files[entry.substr(0, colon)] = colon == std::string::npos ? "" : entry.substr(colon + 1);
    }
  }
  return starts;
}

struct SecondLoader {
  const char* name;
  std::vector<std::string> flags;
  // It stops a client that is still running, perhaps before the client has recorded its start.
  bool stopsClients;
};

class TwoLoaders : public ::testing::TestWithParam<SecondLoader> {};

TEST_P(TwoLoaders, NeverStartTheClientOnAnIncompleteInstallFolder) {
  Device device;
  // The client's first two files take about a second each, the others come at once. The
  // second loader starts once the first file is in place: a loader that cleared the folder
  // then would leave the newest loader to start the client without that file.
  const auto clientBytes =
      std::filesystem::file_size(std::string(FERROVAN_BINARY_DIR) + "/ferrovan-demo-client");
  DownloadService service({"--slow", std::string(kClientLibraries[0]) + ":20000", "--slow",
                           std::string(kClientExe) + ":" + std::to_string(clientBytes)});
  service.Start();
  device.WriteSettings("Program Files/FerroVanMobile", service.Address());
  const std::vector<std::pair<std::string, std::string>> env = {
      {"FERROVAN_DEMO_CLIENT_INVENTORY", "1"}};

  RunResult first, second;
  std::thread firstLoader([&] { first = device.RunLoader({}, "", env); });
  // The newest loader has fetched the client's first file and is fetching the others.
  const bool installing = WaitUntil([&] { return Exists(device.Install(kClientLibraries[0])); });
  if (installing)
    second = device.RunLoader(GetParam().flags, "", env);
  firstLoader.join();
  ASSERT_TRUE(installing) << first.out;

  EXPECT_EQ(first.exitStatus, 0);
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_TRUE(Contains(second.out, "Quillmar RF Loader\nWaiting for another loader to finish\n"))
      << second.out;
  EXPECT_FALSE(Contains(first.out + second.out, "Server address")) << first.out << second.out;
  EXPECT_EQ(first.err + second.err, "");

  std::map<std::string, std::string> whole;
  for (const std::string& name : RequiredFiles())
    whole[name] = Describe(ReadFile(service.File(name)));
  const auto starts = device.ProgramStarts();
  const auto inventories = InventoriesAtStart(device);
  EXPECT_LE(starts.size(), 2u);
  EXPECT_GE(starts.size(), GetParam().stopsClients ? 1u : 2u);
  ASSERT_EQ(inventories.size(), starts.size());
  for (std::size_t start = 0; start < starts.size(); ++start) {
    EXPECT_EQ(starts[start].front(), kClientExe);
    for (const auto& [name, description] : whole) {
      const auto found = inventories[start].find(name);
      EXPECT_TRUE(found != inventories[start].end() && found->second == description)
          << "start " << start << ": " << name;
    }
  }
  for (const auto& [name, description] : whole)
    EXPECT_EQ(Describe(ReadFile(device.Install(name))), description) << name;
  EXPECT_TRUE(std::filesystem::is_empty(device.Path("Temp")));
}

INSTANTIATE_TEST_SUITE_P(
    SecondLoaders, TwoLoaders,
    ::testing::Values(SecondLoader{"plain", {}, false},
                      SecondLoader{"DoNotRunNewLoader", {"-DoNotRunNewLoader"}, false},
                      SecondLoader{"ForceToUpgrade", {"-ForceToUpgrade"}, true}),
    [](const ::testing::TestParamInfo<SecondLoader>& loader) {
      return std::string(loader.param.name);
    });

}  // namespace
}  // namespace testing_support
