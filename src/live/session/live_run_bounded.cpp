#include "live/session/live_run_bounded.hpp"

#include <algorithm>
#include <chrono>
#include <memory>

#include "concurrency/channel.hpp"
#include "concurrency/sleep.hpp"
#include "concurrency/task.hpp"

namespace tolva {
namespace {

// Far beyond any bound the system uses, and safe to add to a steady_clock time.
constexpr std::int64_t longestTimeoutMs = std::int64_t{1000} * 60 * 60 * 24 * 365;

}  // namespace

bool liveRunBounded(std::int64_t timeoutMs, BoundedOperation operation) {
  // The race: whichever side yields first decides; the later value is never read.
  auto outcome = Channel<bool>::make();

  Task operationTask([outcome, operation = std::move(operation)](std::stop_token stop) {
    operation(stop);
    outcome->yield(true);
  });
  auto wait = std::chrono::milliseconds(std::clamp<std::int64_t>(timeoutMs, 0, longestTimeoutMs));
  Task timerTask([outcome, wait](std::stop_token stop) {
    sleepFor(wait, stop);
    outcome->yield(false);
  });

  bool completed = outcome->next().value_or(false);
  timerTask.cancel();  // joined when it goes out of scope; a cancelled sleep ends at once
  if (completed) {
    operationTask.wait();  // it yielded, so it is returning
  } else {
    operationTask.cancel();
    operationTask.abandon();
  }
  return completed;
}

}  // namespace tolva
