// A real nginx running the repository's site file (deploy/nginx), with its port and folder
// pointed at a test's own, for roads that fetch through it.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

// What the nginx tests lack; empty when nginx is there.
std::string MissingNginx();

// A port on 127.0.0.1 that was free a moment ago, and whether one takes connections.
int UnusedPort();
bool Accepts(int port);

class NginxSite {
 public:
  // Serves folder at http://127.0.0.1:Port()/FerroVanService/WebService/Downloads/.
  explicit NginxSite(const std::string& folder);
  // Waits (bounded) until it takes connections.
  bool Ready() const;
  std::string Log() const;
  int Port() const { return port_; }

 private:
  TempDir scratch_;
  int port_ = 0;
  std::unique_ptr<BackgroundProcess> nginx_;
};

}  // namespace testing_support
