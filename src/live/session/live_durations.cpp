#include "live/session/live_durations.hpp"

#include <chrono>
#include <cmath>
#include <limits>

namespace tolva {

std::int64_t wholeMillisecondsSince(WallClock::time_point from) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(WallClock::now() - from).count();
}

std::int64_t wholeMilliseconds(double ms) {
  if (!std::isfinite(ms)) return 0;
  constexpr double limit = 9223372036854775808.0;  // 2^63
  if (ms >= limit) return std::numeric_limits<std::int64_t>::max();
  if (ms < -limit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(std::trunc(ms));
}

}  // namespace tolva
