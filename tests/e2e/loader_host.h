// The loader under test as the end-to-end roads drive it: the Linux program itself, or the
// Windows program under Wine. The roads (roads_test.cpp) are written once and run against the
// host of the test program they are built into.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace testing_support {

class LoaderHost {
 public:
  virtual ~LoaderHost() = default;
  // What these tests lack on this host, with where it comes from; empty when they can run.
  virtual std::string Missing() const = 0;
  // The loader's program file and the demo client, as the download service serves them.
  virtual std::string LoaderProgram() const = 0;
  virtual std::string ClientProgram() const = 0;
  // The loader built with the tests' release key, and that key's secret half to sign with (both
  // made by the build); what is missing for them, empty when nothing.
  virtual std::string SignedLoaderProgram() const = 0;
  // The same, built one release number above it.
  virtual std::string SignedNextLoaderProgram() const = 0;
  virtual std::string ReleaseSecretKey() const = 0;
  std::string SignedReleaseMissing() const;
  // A host path as the host's programs take it and report it (on Windows under Wine: Z:\...).
  virtual std::string ProgramPath(const std::string& hostPath) const = 0;
  // Runs a loader program (LoaderProgram() or a copy of it) with args to its end, and waits for
  // what it started on the device root root (when given) to end as well. Line ends come back as
  // "\n".
  virtual RunResult Run(const std::string& program, const std::vector<std::string>& args,
                        RunOptions options, const std::string& root = "") = 0;
  // Starts a program of the host in the background, as a user would.
  virtual std::unique_ptr<BackgroundProcess> Start(const std::string& program,
                                                   const std::vector<std::string>& args,
                                                   RunOptions options) = 0;
  // Whether a folder that a program reported is the host folder hostPath.
  virtual bool SameFolder(const std::string& reported, const std::string& hostPath) const = 0;
  // Whether the host's file names tell letter case apart.
  virtual bool NamesTellCaseApart() const = 0;
  // The exit status of a program that the loader stopped (the client before a clearing).
  virtual int StoppedProgramStatus() const = 0;
};

// The host of this test program: Linux unless the program names another (UseHost) before its
// tests run.
LoaderHost& Host();
void UseHost(LoaderHost& host);

}  // namespace testing_support
