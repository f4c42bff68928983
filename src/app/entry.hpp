#pragma once
// The entry point of the tool, shared by the shipped binary and the test
// executable; each passes its own platform.

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace tolva {

// Records processStart and args, dispatches, and ends the process.
[[noreturn]] void run(int argc, char** argv, const PlatformProvider& platform);

// The value following the first occurrence of `flag` anywhere in `arguments`,
// or nothing when the flag is absent or last.
std::optional<std::string> parseFlag(const std::vector<std::string>& arguments, const std::string& flag);

}  // namespace tolva
