// What the download tests share: a running download service, a progress recorder, and an
// emulated device to download into.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/download.h"
#include "tests/support/child_process.h"
#include "tests/support/recording_callback.h"
#include "tests/support/temp_dir.h"

namespace download_testing {

using testing_support::Notification;
using testing_support::RecordingCallback;

// A ferrovan-download-service serving folder, started with extra switches.
class Service {
 public:
  Service(const std::string& folder, std::vector<std::string> switches);
  // "http://127.0.0.1:PORT/FerroVanService/WebService/Downloads/" (or https).
  const std::string& Base() const { return base_; }
  std::wstring Url(const std::string& name) const;
  testing_support::BackgroundProcess& Process() { return *process_; }

 private:
  std::unique_ptr<testing_support::BackgroundProcess> process_;
  std::string base_;
};

// A device root in a fresh temporary folder, with its system folders.
class Device {
 public:
  Device();
  const std::string& Root() const { return folder_.Path(); }
  std::string Host(const std::wstring& devicePath) const;
  // The files in Temp but the copies that downloads keep for the next one (with their records).
  std::vector<std::string> TempFiles() const;
  // Removes everything from Temp, kept copies too.
  void ClearTemp() const;

 private:
  testing_support::TempDir folder_;
};

std::wstring Wide(const std::string& text);
std::string PseudoRandomBytes(std::size_t size, unsigned seed);
// Mode bits a new file gets here: 0777 less the umask.
unsigned ExpectedFileMode();
unsigned ModeOf(const std::string& path);

}  // namespace download_testing
