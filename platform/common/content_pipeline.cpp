#include "platform/common/content_pipeline.h"

namespace platform {

ContentPipeline::ContentPipeline(DownloadContentSink& sink) : sink_(sink) {
  thread_ = std::thread([this] { Run(); });
}

ContentPipeline::~ContentPipeline() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return count_ == 0; });
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool ContentPipeline::Hand(std::span<const std::uint8_t> bytes) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return count_ < kBatchesInFlight; });
    if (refused_) {
      return false;
    }
    queue_[(first_ + count_) % kBatchesInFlight] = bytes;
    ++count_;
  }
  changed_.notify_all();
  return true;
}

bool ContentPipeline::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return count_ == 0; });
  return !refused_;
}

void ContentPipeline::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return count_ > 0 || ending_; });
    if (count_ == 0) {
      return;
    }
    const std::span<const std::uint8_t> batch = queue_[first_];
    const bool skip = refused_;
    lock.unlock();
    const bool taken = skip || sink_.Take(batch);
    lock.lock();
    refused_ = refused_ || !taken;
    // Only now is the batch's buffer the caller's again.
    first_ = (first_ + 1) % kBatchesInFlight;
    --count_;
    changed_.notify_all();
  }
}

}  // namespace platform
