#include "concurrency/ordered_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "concurrency/notification.hpp"

namespace tolva {
namespace {

using namespace std::chrono_literals;
using Pool = OrderedPool<int, int>;

// Doubles its job after `delay(job)`; records the threads it was made,
// used and destroyed on.
class Doubler final : public Pool::Worker {
 public:
  struct Log {
    std::mutex mutex;
    std::vector<std::pair<std::thread::id, std::thread::id>> madeAndDestroyedOn;
  };
  Doubler(std::function<std::chrono::milliseconds(int)> delay, std::shared_ptr<Log> log)
      : delay_(std::move(delay)), log_(std::move(log)), madeOn_(std::this_thread::get_id()) {}
  ~Doubler() override {
    std::lock_guard lock(log_->mutex);
    log_->madeAndDestroyedOn.emplace_back(madeOn_, std::this_thread::get_id());
  }
  int run(int& job) override {
    EXPECT_EQ(std::this_thread::get_id(), madeOn_);
    std::this_thread::sleep_for(delay_(job));
    return job * 2;
  }

 private:
  std::function<std::chrono::milliseconds(int)> delay_;
  std::shared_ptr<Log> log_;
  std::thread::id madeOn_;
};

// A worker that waits for `gate` before each job and throws on job `failOn`.
class Gated final : public Pool::Worker {
 public:
  Gated(std::shared_ptr<Notification> gate, int failOn) : gate_(std::move(gate)), failOn_(failOn) {}
  int run(int& job) override {
    gate_->wait();
    if (job == failOn_) throw std::runtime_error("job failed");
    return job;
  }

 private:
  std::shared_ptr<Notification> gate_;
  int failOn_;
};

TEST(OrderedPool, ResultsArriveInSubmissionOrderWhateverTheThreadCount) {
  for (std::size_t threads : {1u, 2u, 3u, 8u}) {
    SCOPED_TRACE(threads);
    auto log = std::make_shared<Doubler::Log>();
    std::vector<int> consumed;
    // Early jobs take longest, so later ones finish first.
    auto delay = [](int job) { return std::chrono::milliseconds(job < 6 ? 12 - 2 * job : job % 3); };
    {
      Pool pool(
          threads, 2 * threads, [&] { return std::make_unique<Doubler>(delay, log); },
          [&](int&& result) { consumed.push_back(result); });
      for (int job = 0; job < 40; ++job) EXPECT_TRUE(pool.submit(job));
      pool.finish();
      EXPECT_GE(pool.workersStarted(), 1u);
      EXPECT_LE(pool.workersStarted(), threads);
    }
    std::vector<int> expected;
    for (int job = 0; job < 40; ++job) expected.push_back(job * 2);
    EXPECT_EQ(consumed, expected);
    for (auto [made, destroyed] : log->madeAndDestroyedOn) EXPECT_EQ(made, destroyed);
    if (threads == 1) {
      ASSERT_EQ(log->madeAndDestroyedOn.size(), 1u);
      EXPECT_EQ(log->madeAndDestroyedOn[0].first, std::this_thread::get_id());
    }
  }
}

TEST(OrderedPool, WorkersStartOnlyWhenJobsWait) {
  auto log = std::make_shared<Doubler::Log>();
  std::vector<int> consumed;
  Pool pool(
      4, 8, [&] { return std::make_unique<Doubler>([](int) { return 0ms; }, log); },
      [&](int&& result) { consumed.push_back(result); });
  EXPECT_TRUE(pool.submit(21));
  pool.finish();
  EXPECT_EQ(pool.workersStarted(), 1u);
  EXPECT_EQ(consumed, std::vector<int>{42});
}

TEST(OrderedPool, AFullWindowHoldsTheProducerBack) {
  constexpr std::size_t window = 3;
  auto gate = std::make_shared<Notification>();
  std::atomic<std::size_t> consumed = 0;
  std::atomic<std::size_t> submitted = 0;
  std::size_t mostInFlight = 0;
  Pool pool(
      2, window, [&] { return std::make_unique<Gated>(gate, -1); }, [&](int&&) { ++consumed; });
  std::jthread opener([gate] {
    std::this_thread::sleep_for(100ms);  // the producer meets a full window meanwhile
    gate->notify();
  });
  for (int job = 0; job < 20; ++job) {
    ASSERT_TRUE(pool.submit(job));
    ++submitted;
    mostInFlight = std::max(mostInFlight, submitted - consumed);
  }
  pool.finish();
  EXPECT_EQ(consumed, 20u);
  EXPECT_LE(mostInFlight, window);
}

TEST(OrderedPool, TheFirstFailureHaltsThePoolAndFinishRethrowsIt) {
  struct Case {
    const char* name;
    bool factoryThrows;
    int failingJob;
    bool consumerThrows;
  };
  for (std::size_t threads : {1u, 3u}) {
    for (Case c : {Case{"factory", true, -1, false}, Case{"job", false, 5, false}, Case{"consumer", false, -1, true}}) {
      SCOPED_TRACE(std::string(c.name) + " threads=" + std::to_string(threads));
      auto gate = std::make_shared<Notification>();
      gate->notify();
      std::vector<int> consumed;
      Pool pool(
          threads, 4,
          [&]() -> std::unique_ptr<Pool::Worker> {
            if (c.factoryThrows) throw std::runtime_error("no worker");
            return std::make_unique<Gated>(gate, c.failingJob);
          },
          [&](int&& result) {
            if (c.consumerThrows && result == 2) throw std::runtime_error("consumer failed");
            consumed.push_back(result);
          });
      bool refused = false;
      for (int job = 0; job < 50 && !refused; ++job) refused = !pool.submit(job);
      EXPECT_THROW(pool.finish(), std::runtime_error);
      EXPECT_LT(consumed.size(), 50u);
      for (std::size_t i = 0; i < consumed.size(); ++i) EXPECT_EQ(consumed[i], static_cast<int>(i));
      EXPECT_FALSE(pool.submit(99));
    }
  }
}

TEST(OrderedPool, AStopWakesABlockedProducerAndEndsWithoutAnError) {
  std::stop_source stop;
  auto gate = std::make_shared<Notification>();
  std::atomic<int> consumed = 0;
  Pool pool(
      2, 2, [&] { return std::make_unique<Gated>(gate, -1); }, [&](int&&) { ++consumed; }, stop.get_token());
  std::jthread stopper([&] {
    std::this_thread::sleep_for(50ms);
    stop.request_stop();
    gate->notify();  // the running jobs finish after the stop
  });
  int accepted = 0;
  while (pool.submit(accepted)) ++accepted;  // blocks on the full window until the stop
  EXPECT_EQ(accepted, 2);
  EXPECT_NO_THROW(pool.finish());
  EXPECT_EQ(consumed, 0);
}

}  // namespace
}  // namespace tolva
