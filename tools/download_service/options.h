// The download service's command line.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace download_service {

struct Options {
  std::string folder = ".";
  int port = 0;
  std::string bind = "127.0.0.1";
  std::string certificate;
  std::string key;
  std::string prefix = "FerroVanService";
  std::set<std::string> missing;
  std::set<std::string> noLength;
  std::set<std::string> silent;
  std::set<std::string> ignoreRanges;
  std::set<std::string> ignoreIfRange;
  std::map<std::string, std::uint64_t> dropAfter;
  std::map<std::string, std::uint64_t> breakEvery;
  std::map<std::string, std::uint64_t> breakCount;
  std::map<std::string, std::uint64_t> slow;
  std::map<std::string, std::uint64_t> claimLength;
  std::map<std::string, std::string> redirects;
  std::string log;
  std::string answers;
};

// The options of argv; --help prints the usage and exits with 0, a bad option prints what is
// wrong with the usage and exits with 2.
Options ParseOptions(int argc, char** argv);

// Prints message and the usage to standard error and exits with 2.
[[noreturn]] void Fail(const std::string& message);

}  // namespace download_service
