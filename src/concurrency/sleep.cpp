#include "concurrency/sleep.hpp"

#include <condition_variable>
#include <mutex>

namespace tolva {

bool sleepUntil(std::chrono::steady_clock::time_point deadline, std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any wakeup;
  std::unique_lock lock(mutex);
  // Nothing notifies `wakeup` but the stop token, so the predicate only asks for it.
  wakeup.wait_until(lock, stop, deadline, [] { return false; });
  return !stop.stop_requested();
}

bool sleepFor(std::chrono::nanoseconds duration, std::stop_token stop) {
  return sleepUntil(std::chrono::steady_clock::now() + duration, stop);
}

}  // namespace tolva
