#include "tests/support/demo_client_log.h"

#include <sstream>

#include "tests/support/temp_dir.h"

namespace testing_support {

std::vector<std::vector<std::string>> DemoClientStarts(const std::string& folder) {
  std::vector<std::vector<std::string>> starts;
  std::istringstream log(ReadFile(folder + "/demo-client.log"));
  for (std::string line; std::getline(log, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) {
      fields.push_back(field);
    }
    // An empty last argument leaves a tab at the end that getline does not count.
    if (line.ends_with('\t')) {
      fields.emplace_back();
    }
    starts.push_back(fields);
  }
  return starts;
}

}  // namespace testing_support
