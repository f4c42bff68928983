#pragma once
// Process-wide values set once by the entry point before anything else runs.

#include <chrono>
#include <string>
#include <vector>

namespace tolva {

using WallClock = std::chrono::system_clock;

// The wall-clock start of the process: the log's `t` and the events' `tMs`
// are measured from it.
WallClock::time_point processStart();

// The command-line arguments without the program name.
const std::vector<std::string>& args();

// Called by the entry point only, first thing.
void recordProcessStart();
void setArgs(std::vector<std::string> arguments);

// Milliseconds between two wall-clock instants, fractional part kept.
double millisecondsBetween(WallClock::time_point from, WallClock::time_point to);

}  // namespace tolva
