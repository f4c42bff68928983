// The session state boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "live/session/session_state_boxes.hpp"

namespace tolva {
namespace {

using namespace std::chrono_literals;

AnalyzerInput frames(std::uint32_t count) {
  PcmBuffer buffer = *PcmBuffer::make({16000, 1, CommonFormat::float32}, count);
  buffer.frameLength = count;
  return {buffer};
}

std::size_t drain(AnalyzerInputChannel& channel) {
  std::size_t count = 0;
  std::stop_source nothingMore;
  nothingMore.request_stop();  // returns what is queued, then stops
  while (channel.next(nothingMore.get_token())) ++count;
  return count;
}

TEST(ContinuationBox, YieldsUntilDetached) {
  auto channel = AnalyzerInputChannel::make();
  ContinuationBox box(channel);
  box.yieldIfOpen(frames(3));
  box.detach();
  box.yieldIfOpen(frames(4));
  channel->finish();
  auto first = channel->next();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->buffer.frameLength, 3u);
  EXPECT_EQ(channel->next(), std::nullopt);
}

TEST(ContinuationBox, NoYieldLandsAfterDetachReturned) {
  auto channel = AnalyzerInputChannel::make();
  auto box = std::make_shared<ContinuationBox>(channel);
  std::atomic<bool> running = true;
  std::atomic<int> yields = 0;
  std::jthread tap([&] {
    while (running) {
      box->yieldIfOpen(frames(1));
      ++yields;
    }
  });
  // Detach once the tap has yielded, however late a loaded machine runs it.
  for (int i = 0; i < 10000 && yields == 0; ++i) std::this_thread::sleep_for(1ms);
  box->detach();
  std::size_t beforeDetach = drain(*channel);
  std::this_thread::sleep_for(20ms);  // the tap keeps calling meanwhile
  EXPECT_EQ(drain(*channel), 0u);
  running = false;
  EXPECT_GT(beforeDetach, 0u);
}

TEST(AudioFedCounter, SumsConcurrentAdds) {
  AudioFedCounter counter;
  {
    std::vector<std::jthread> taps;
    for (int t = 0; t < 4; ++t) {
      taps.emplace_back([&] {
        for (int i = 0; i < 1000; ++i) counter.add(0.5);
      });
    }
  }
  EXPECT_EQ(counter.total(), 2000.0);
}

TEST(LiveOnceLatch, ExactlyOneConcurrentClaimWins) {
  for (int round = 0; round < 20; ++round) {
    LiveOnceLatch latch;
    std::atomic<int> winners = 0;
    {
      std::vector<std::jthread> claimers;
      for (int t = 0; t < 4; ++t) claimers.emplace_back([&] { winners += latch.claim() ? 1 : 0; });
    }
    EXPECT_EQ(winners, 1);
    EXPECT_FALSE(latch.claim());
  }
}

TEST(LiveOnceLatch, SpendLeavesNothingToClaim) {
  LiveOnceLatch latch;
  latch.spend();
  EXPECT_FALSE(latch.claim());
  EXPECT_FALSE(latch.claim());
}

TEST(StopFlag, IsRaisedOnceRaised) {
  StopFlag flag;
  EXPECT_FALSE(flag.isRaised());
  std::jthread([&] { flag.raise(); }).join();
  EXPECT_TRUE(flag.isRaised());
}

TEST(LiveSessionStatsBox, CountsResultsAndKeepsTheFirstVolatileTime) {
  LiveSessionStatsBox box;
  EXPECT_FALSE(box.snapshot().firstVolatileMs.has_value());
  box.recordResult(true, 5);
  box.recordResult(false, 40);
  box.recordResult(false, 90);
  box.setAudioFedMs(1234.5);
  LiveSessionStats stats = box.snapshot();
  EXPECT_EQ(stats.finalCount, 1);
  EXPECT_EQ(stats.volatileCount, 2);
  EXPECT_EQ(stats.firstVolatileMs, 40);
  EXPECT_EQ(stats.audioFedMs, 1234.5);
  EXPECT_FALSE(stats.finalizeTimedOut);
  box.recordResult(false, 100);
  EXPECT_EQ(stats.volatileCount, 2);  // a snapshot is a copy
}

}  // namespace
}  // namespace tolva
