// liveRunBounded: completion, timeout with cancellation, and bounds of 0 or less.
#include "live/session/live_run_bounded.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "concurrency/notification.hpp"

namespace tolva {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(LiveRunBounded, AnOperationThatCompletesReturnsTrueWithoutWaitingForTheBound) {
  auto ran = std::make_shared<std::atomic<bool>>(false);
  auto begin = Clock::now();
  EXPECT_TRUE(liveRunBounded(60'000, [ran](std::stop_token) { *ran = true; }));
  EXPECT_TRUE(*ran);
  EXPECT_LT(Clock::now() - begin, 30s);  // the timer was cancelled, not slept out
}

TEST(LiveRunBounded, AnOperationThatOverrunsIsCancelledAndNotWaitedFor) {
  auto sawCancel = std::make_shared<Notification>();
  auto begin = Clock::now();
  bool completed = liveRunBounded(100, [sawCancel](std::stop_token stop) {
    Notification never;
    never.wait(stop);  // ends only by cancellation
    sawCancel->notify();
  });
  EXPECT_FALSE(completed);
  EXPECT_GE(Clock::now() - begin, 100ms);
  EXPECT_TRUE(sawCancel->waitFor(10s));
}

TEST(LiveRunBounded, AStuckOperationIsLeftRunningAlone) {
  auto release = std::make_shared<Notification>();
  auto finished = std::make_shared<Notification>();
  EXPECT_FALSE(liveRunBounded(50, [release, finished](std::stop_token) {
    release->wait();  // ignores cancellation
    finished->notify();
  }));
  EXPECT_FALSE(finished->notified());
  release->notify();
  EXPECT_TRUE(finished->waitFor(10s));  // its late completion changes nothing for the caller
}

TEST(LiveRunBounded, ABoundOfZeroOrLessFiresAtOnce) {
  for (std::int64_t bound : {std::int64_t{0}, std::int64_t{-5}, INT64_MIN}) {
    auto release = std::make_shared<Notification>();
    auto begin = Clock::now();
    EXPECT_FALSE(liveRunBounded(bound, [release](std::stop_token stop) { release->wait(stop); })) << bound;
    EXPECT_LT(Clock::now() - begin, 30s);
    release->notify();
  }
}

}  // namespace
}  // namespace tolva
