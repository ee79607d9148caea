// Hands a download's body to its content sink on a thread of its own, a few batches behind the
// transfer: a digest of every byte is then taken beside the transfer and the writes to storage,
// instead of in series with them, and costs the download little time. The transfer waits only
// when the sink falls that many batches behind, not each time the sink's thread is slow to wake.
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

  // The batches handed over and not yet taken at most: a caller that cycles through one buffer
  // more than this may refill a buffer once the Hand after the one that handed it has returned.
  static constexpr std::size_t kBatchesInFlight = 3;

  // Waits until fewer than kBatchesInFlight batches are in hand, then hands it bytes, which must
  // stay as they are until the sink has taken them (see kBatchesInFlight) or Drain has returned.
  // False once the sink has refused a batch.
  bool Hand(std::span<const std::uint8_t> bytes);
  // Waits until the sink has taken every batch handed to it; false when it refused one.
  bool Drain();

 private:
  void Run();

  DownloadContentSink& sink_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // The batches in hand, the first one the sink's, in order.
  std::span<const std::uint8_t> queue_[kBatchesInFlight];
  std::size_t first_ = 0;
  std::size_t count_ = 0;
  bool refused_ = false;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace platform
