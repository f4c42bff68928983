#include "app/process.hpp"

namespace tolva {
namespace {

WallClock::time_point startTime = WallClock::now();
std::vector<std::string> arguments;

}  // namespace

WallClock::time_point processStart() { return startTime; }
const std::vector<std::string>& args() { return arguments; }

void recordProcessStart() { startTime = WallClock::now(); }
void setArgs(std::vector<std::string> values) { arguments = std::move(values); }

double millisecondsBetween(WallClock::time_point from, WallClock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace tolva
