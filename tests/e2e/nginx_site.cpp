#include "tests/e2e/nginx_site.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace testing_support {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Replaces the one occurrence of from; throws when there is not exactly one.
void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos || text.find(from, at + 1) != std::string::npos) {
    throw std::runtime_error("the nginx site must hold exactly one: " + from);
  }
  text.replace(at, from.size(), to);
}

}  // namespace

std::string MissingNginx() {
  return access(kNginx, X_OK) == 0
             ? ""
             : std::string(kNginx) + " is not installed (Debian package nginx-light)";
}

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot pick a port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

NginxSite::NginxSite(const std::string& folder) {
  port_ = UnusedPort();
  std::string site = ReadFile(FERROVAN_SOURCE_DIR "/deploy/nginx/ferrovan-downloads.conf");
  ReplaceOnce(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(port_) + ";");
  ReplaceOnce(site, "alias /srv/ferrovan/downloads/;", "alias " + folder + "/;");
  WriteFile(scratch_ / "site.conf", site);
  const std::string& p = scratch_.Path();
  std::string conf = "daemon off;\nmaster_process off;\nworker_processes 1;\n";
  conf += "pid " + p + "/nginx.pid;\nerror_log " + p + "/error.log;\n";
  conf += "events { worker_connections 32; }\nhttp {\n  access_log " + p + "/access.log;\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    conf += std::string("  ") + temp + "_temp_path " + p + "/" + temp + ";\n";
  }
  conf += "  include " + p + "/site.conf;\n}\n";
  WriteFile(scratch_ / "nginx.conf", conf);
  nginx_ = std::make_unique<BackgroundProcess>(
      kNginx, std::vector<std::string>{"-p", p + "/", "-c", scratch_ / "nginx.conf", "-e",
                                       scratch_ / "error.log"});
}

bool NginxSite::Ready() const {
  return WaitUntil([&] { return Accepts(port_); });
}

std::string NginxSite::Log() const {
  return Exists(scratch_ / "error.log") ? ReadFile(scratch_ / "error.log") : "";
}

}  // namespace testing_support
