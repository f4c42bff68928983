#pragma once
// Cancellable sleeps on the monotonic clock.

#include <chrono>
#include <stop_token>

namespace tolva {

// Sleeps for `duration` on steady_clock. Returns true when the full time passed,
// false when `stop` was requested first (the sleep then ends at once).
bool sleepFor(std::chrono::nanoseconds duration, std::stop_token stop = {});

// Sleeps until `deadline`; same contract as sleepFor.
bool sleepUntil(std::chrono::steady_clock::time_point deadline, std::stop_token stop = {});

}  // namespace tolva
