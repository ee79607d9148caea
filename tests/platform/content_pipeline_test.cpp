// The pipeline that feeds a download's content sink behind the transfer: every byte reaches the
// sink once and in order, a batch is never changed while the sink reads it, and a refusal stops
// the feeding and is reported.
#include "platform/common/content_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace {

class SlowRecorder final : public platform::DownloadContentSink {
 public:
  bool Take(std::span<const std::uint8_t> bytes) override {
    ++calls;
    // Reads the batch over and over, as a digest of a large one takes its time, to catch it
    // being refilled early.
    const std::string before(bytes.begin(), bytes.end());
    unsigned sum = 0;
    for (int pass = 0; pass < 200; ++pass) {
      for (const std::uint8_t byte : bytes) {
        sum += byte;
      }
    }
    checksum += sum;
    seen.append(bytes.begin(), bytes.end());
    if (std::string(bytes.begin(), bytes.end()) != before) {
      changedWhileRead = true;
    }
    return refuseAfter < 0 || calls <= refuseAfter;
  }
  std::string seen;
  unsigned checksum = 0;
  int calls = 0;
  int refuseAfter = -1;
  bool changedWhileRead = false;
};

// Feeds text in batches through one buffer more than the pipeline holds, as a download does: a
// buffer is filled again only after the Hand that followed its own has returned.
bool Feed(platform::ContentPipeline& pipeline, const std::string& text, std::size_t batch) {
  std::vector<std::uint8_t> buffers[platform::ContentPipeline::kBatchesInFlight + 1];
  std::size_t filling = 0;
  for (std::size_t at = 0; at < text.size(); at += batch) {
    std::vector<std::uint8_t>& buffer = buffers[filling];
    buffer.assign(text.begin() + static_cast<std::ptrdiff_t>(at),
                  text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), at + batch)));
    if (!pipeline.Hand(buffer)) {
      return false;
    }
    filling = (filling + 1) % std::size(buffers);
  }
  return pipeline.Drain();
}

TEST(ContentPipelineTest, EveryByteReachesTheSinkOnceInOrder) {
  std::string text;
  for (int i = 0; i < 5000; ++i) {
    text += std::to_string(i) + ",";
  }
  for (const std::size_t batch : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    SlowRecorder sink;
    {
      platform::ContentPipeline pipeline(sink);
      EXPECT_TRUE(Feed(pipeline, text.substr(0, batch == 1 ? 300 : text.size()), batch));
    }
    EXPECT_EQ(sink.seen, text.substr(0, batch == 1 ? 300 : text.size())) << batch;
    EXPECT_FALSE(sink.changedWhileRead);
  }
}

TEST(ContentPipelineTest, ARefusalStopsTheFeedingAndIsReported) {
  SlowRecorder sink;
  sink.refuseAfter = 2;
  platform::ContentPipeline pipeline(sink);
  EXPECT_FALSE(Feed(pipeline, std::string(100, 'x'), 10));
  EXPECT_EQ(sink.calls, 3) << "batches were taken after the refusal";
  EXPECT_FALSE(pipeline.Drain());
}

TEST(ContentPipelineTest, EndsWithABatchStillInHand) {
  SlowRecorder sink;
  std::vector<std::uint8_t> batch(1000, 'y');
  {
    platform::ContentPipeline pipeline(sink);
    ASSERT_TRUE(pipeline.Hand(batch));
  }  // a download that failed mid-way: the sink is done with the batch before it goes
  EXPECT_EQ(sink.seen.size(), 1000u);
}

}  // namespace
