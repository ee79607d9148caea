// Scratch folders and small file helpers for tests.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace testing_support {

// A fresh folder in the temporary folder ($TMPDIR or /tmp; on Windows the user's), removed with
// its contents when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
// Writes content, creating the folders above the file.
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);
void MakeFolders(const std::string& path);

// Polls condition until it holds or timeout passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace testing_support
