#include "platform/common/content_pipeline.h"

namespace platform {

ContentPipeline::ContentPipeline(DownloadContentSink& sink) : sink_(sink) {
  thread_ = std::thread([this] { Run(); });
}

ContentPipeline::~ContentPipeline() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool ContentPipeline::Hand(std::span<const std::uint8_t> bytes) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (refused_) {
      return false;
    }
    batch_ = bytes;
    busy_ = true;
  }
  changed_.notify_all();
  return true;
}

bool ContentPipeline::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  return !refused_;
}

void ContentPipeline::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || ending_; });
    if (!busy_) {
      return;
    }
    const std::span<const std::uint8_t> batch = batch_;
    const bool skip = refused_;
    lock.unlock();
    const bool taken = skip || sink_.Take(batch);
    lock.lock();
    refused_ = refused_ || !taken;
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace platform
