// What the demo client records of its starts: one line per start in FOLDER/demo-client.log, its
// program name, working folder, FERROVAN_DEVICE_ROOT and then its arguments, separated by tabs.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The starts recorded in folder, each as its fields; none when there is no log.
std::vector<std::vector<std::string>> DemoClientStarts(const std::string& folder);

}  // namespace testing_support
