// Hands a download's body to its content sink on a thread of its own, one batch behind the
// transfer: a digest of every byte is then taken beside the transfer and the writes to storage,
// instead of in series with them, and costs the download little time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>

#include "platform/download.h"

namespace platform {

class ContentPipeline {
 public:
  explicit ContentPipeline(DownloadContentSink& sink);
  // Waits for the batch in hand, if any, and ends the thread.
  ~ContentPipeline();
  ContentPipeline(const ContentPipeline&) = delete;
  ContentPipeline& operator=(const ContentPipeline&) = delete;

  // Waits until the sink has taken the previous batch, then hands it bytes, which must stay as
  // they are until the next Hand or Drain has returned. False once the sink has refused a batch.
  bool Hand(std::span<const std::uint8_t> bytes);
  // Waits until the sink has taken every batch handed to it; false when it refused one.
  bool Drain();

 private:
  void Run();

  DownloadContentSink& sink_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::span<const std::uint8_t> batch_;
  bool busy_ = false;
  bool refused_ = false;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace platform
