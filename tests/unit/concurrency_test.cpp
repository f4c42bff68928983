#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "concurrency/channel.hpp"
#include "concurrency/notification.hpp"
#include "concurrency/sleep.hpp"
#include "concurrency/task.hpp"

namespace tolva {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Channel, DeliversInOrderThenEnds) {
  Channel<int> channel;
  EXPECT_TRUE(channel.yield(1));
  EXPECT_TRUE(channel.yield(2));
  channel.finish();
  EXPECT_FALSE(channel.yield(3));  // dropped after finish
  EXPECT_EQ(channel.next(), 1);
  EXPECT_EQ(channel.next(), 2);
  EXPECT_EQ(channel.next(), std::nullopt);
  EXPECT_EQ(channel.next(), std::nullopt);
}

TEST(Channel, ErrorIsRaisedAfterTheQueueDrains) {
  Channel<int> channel;
  channel.yield(7);
  channel.finish(std::make_exception_ptr(std::runtime_error("boom")));
  channel.finish();  // only the first finish counts
  EXPECT_EQ(channel.next(), 7);
  EXPECT_THROW(channel.next(), std::runtime_error);
}

TEST(Channel, NextBlocksUntilAValueOrStop) {
  auto channel = Channel<int>::make();
  std::jthread producer([channel] {
    std::this_thread::sleep_for(20ms);
    channel->yield(5);
  });
  EXPECT_EQ(channel->next(), 5);

  std::stop_source stop;
  std::jthread canceller([&] {
    std::this_thread::sleep_for(20ms);
    stop.request_stop();
  });
  EXPECT_EQ(channel->next(stop.get_token()), std::nullopt);
  EXPECT_FALSE(channel->isFinished());
}

TEST(Channel, ManyProducersOneConsumerLoseNothing) {
  auto channel = Channel<int>::make();
  constexpr int producers = 4, perProducer = 2000;
  {
    std::vector<std::jthread> threads;
    for (int p = 0; p < producers; ++p) {
      threads.emplace_back([channel, p] {
        for (int i = 0; i < perProducer; ++i) channel->yield(p * perProducer + i);
      });
    }
    std::set<int> seen;
    while (seen.size() < producers * perProducer) seen.insert(*channel->next());
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), producers * perProducer - 1);
  }
}

TEST(Sleep, RunsItsTimeOrEndsEarlyOnStop) {
  auto begin = Clock::now();
  EXPECT_TRUE(sleepFor(30ms));
  EXPECT_GE(Clock::now() - begin, 30ms);

  std::stop_source stop;
  std::jthread canceller([&] {
    std::this_thread::sleep_for(20ms);
    stop.request_stop();
  });
  begin = Clock::now();
  EXPECT_FALSE(sleepFor(60s, stop.get_token()));
  EXPECT_LT(Clock::now() - begin, 30s);
}

TEST(Notification, WakesEveryWaiterOnce) {
  Notification done;
  EXPECT_FALSE(done.waitFor(1ms));
  std::jthread waiter([&] { EXPECT_TRUE(done.wait()); });
  done.notify();
  done.notify();
  EXPECT_TRUE(done.notified());
  EXPECT_TRUE(done.waitFor(0ms));
}

TEST(Task, CancelReachesTheBodyAndWaitJoins) {
  auto progress = Channel<int>::make();
  Task task([progress](std::stop_token stop) {
    progress->yield(1);
    sleepFor(60s, stop);
    progress->yield(2);
  });
  EXPECT_EQ(progress->next(), 1);
  EXPECT_FALSE(task.waitFor(10ms));
  task.cancel();
  EXPECT_TRUE(task.waitFor(30s));
  EXPECT_TRUE(task.finished());
  EXPECT_EQ(progress->next(), 2);
}

TEST(Task, AbandonedTaskRunsOnWithWhatItOwns) {
  auto result = Channel<int>::make();
  {
    Task task([result](std::stop_token) {
      std::this_thread::sleep_for(20ms);
      result->yield(42);
    });
    task.abandon();
  }
  EXPECT_EQ(result->next(), 42);
}

}  // namespace
}  // namespace tolva
