#pragma once
// Durations as listen events and log fields carry them: whole milliseconds,
// truncated toward zero.

#include <cstdint>

#include "app/process.hpp"

namespace tolva {

// Whole milliseconds from `from` to now on the wall clock.
std::int64_t wholeMillisecondsSince(WallClock::time_point from);

// `ms` truncated toward zero; 0 for a value that is not finite, and clamped to
// the signed 64-bit range.
std::int64_t wholeMilliseconds(double ms);

}  // namespace tolva
