#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace download_service {
namespace {

constexpr const char* kUsage =
    "Usage: ferrovan-download-service [OPTIONS]\n"
    "Serves the files of a folder as the loader's download service:\n"
    "GET /PREFIX/WebService/Downloads/NAME answers with the file FOLDER/NAME.\n"
    "\n"
    "  --folder DIR               folder to serve (default: the current folder)\n"
    "  --port N                   port to listen on; 0 lets the system pick (default 0)\n"
    "  --bind ADDRESS             address to listen on (default 127.0.0.1)\n"
    "  --https CERT KEY           serve HTTPS with this certificate and key (PEM files)\n"
    "  --prefix P                 first part of the path (default FerroVanService; \"\" for none)\n"
    "  --missing NAME             answer 404 for NAME\n"
    "  --drop-after NAME:BYTES    send NAME up to its byte BYTES, then close the connection\n"
    "  --break-every NAME:BYTES   close each response for NAME after BYTES bytes of its body\n"
    "  --break-count NAME:N       with --break-every, break only the first N responses\n"
    "  --ignore-ranges NAME       answer every request for NAME with the whole file\n"
    "  --ignore-if-range NAME     answer a range of NAME whatever its If-Range says\n"
    "  --no-length NAME           send NAME chunked, without Content-Length\n"
    "  --claim-length NAME:BYTES  announce BYTES as NAME's length, send the file, then close\n"
    "  --slow NAME:BYTES_PER_SEC  send NAME at about that rate\n"
    "  --silent NAME              accept requests for NAME and never answer them\n"
    "  --redirect FROM:TO         answer 302 for FROM, to the address of the name TO, or to TO\n"
    "                             itself when it is a full URL (has \"://\")\n"
    "  --log FILE                 append the path of each request to FILE as it arrives\n"
    "  --answers FILE             append the status and path of each answer to FILE before\n"
    "                             its body is sent (\"206 /PREFIX/.../NAME\")\n"
    "  --help                     show this text and exit\n"
    "\n"
    "Only regular files directly in the folder are served: no subfolders, no links.\n"
    "Each file goes with a strong ETag and its Last-Modified date; If-None-Match and\n"
    "If-Modified-Since are answered 304 when they match, and one range (bytes=FIRST- or\n"
    "bytes=FIRST-LAST) 206, but only when an If-Range sent with it matches (else the\n"
    "whole file, 200).\n"
    "The fault switches may be given several times. On start the service prints one line,\n"
    "\"listening on http://ADDRESS:PORT\" (https with --https), to standard output; each\n"
    "request is logged to standard error. SIGTERM or SIGINT stops it.\n";

bool SplitPair(const std::string& text, bool atLast, std::string& left, std::string& right) {
  std::size_t colon = atLast ? text.rfind(':') : text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    return false;
  }
  left = text.substr(0, colon);
  right = text.substr(colon + 1);
  return true;
}

std::uint64_t ParseCount(const std::string& text, const std::string& option) {
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || text[0] == '-') {
    Fail("invalid number for " + option + ": " + text);
  }
  return value;
}

}  // namespace

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "ferrovan-download-service: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) {
        Fail(option + " needs more values");
      }
      return args[++i];
    };
    auto namedCount = [&](std::map<std::string, std::uint64_t>& into) {
      std::string name, count;
      if (!SplitPair(value(), true, name, count)) {
        Fail(option + " takes NAME:NUMBER");
      }
      into[name] = ParseCount(count, option);
    };
    if (option == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (option == "--folder") {
      options.folder = value();
    } else if (option == "--port") {
      std::uint64_t port = ParseCount(value(), option);
      if (port > 65535) {
        Fail("port out of range");
      }
      options.port = static_cast<int>(port);
    } else if (option == "--bind") {
      options.bind = value();
    } else if (option == "--https") {
      options.certificate = value();
      options.key = value();
    } else if (option == "--prefix") {
      options.prefix = value();
      while (!options.prefix.empty() && options.prefix.front() == '/') {
        options.prefix.erase(0, 1);
      }
      while (!options.prefix.empty() && options.prefix.back() == '/') {
        options.prefix.pop_back();
      }
    } else if (option == "--missing") {
      options.missing.insert(value());
    } else if (option == "--no-length") {
      options.noLength.insert(value());
    } else if (option == "--silent") {
      options.silent.insert(value());
    } else if (option == "--ignore-ranges") {
      options.ignoreRanges.insert(value());
    } else if (option == "--ignore-if-range") {
      options.ignoreIfRange.insert(value());
    } else if (option == "--drop-after") {
      namedCount(options.dropAfter);
    } else if (option == "--break-count") {
      namedCount(options.breakCount);
    } else if (option == "--break-every") {
      namedCount(options.breakEvery);
      for (const auto& [name, bytes] : options.breakEvery) {
        if (bytes == 0) {
          Fail("--break-every needs a count above 0 for " + name);
        }
      }
    } else if (option == "--claim-length") {
      namedCount(options.claimLength);
    } else if (option == "--slow") {
      namedCount(options.slow);
      for (const auto& [name, rate] : options.slow) {
        if (rate == 0) {
          Fail("--slow needs a rate above 0 for " + name);
        }
      }
    } else if (option == "--log") {
      options.log = value();
    } else if (option == "--answers") {
      options.answers = value();
    } else if (option == "--redirect") {
      std::string from, to;
      if (!SplitPair(value(), false, from, to)) {
        Fail("--redirect takes FROM:TO");
      }
      options.redirects[from] = to;
    } else {
      Fail("unknown option: " + option);
    }
  }
  struct stat info {};
  if (::stat(options.folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Fail("not a folder: " + options.folder);
  }
  return options;
}

}  // namespace download_service
