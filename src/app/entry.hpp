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

// The value of the first occurrence of `flag` anywhere in `arguments`: the
// element following it, or what follows "=" in the joined form (--locale=en-US);
// nothing when the flag is absent or last.
std::optional<std::string> parseFlag(const std::vector<std::string>& arguments, const std::string& flag);

// Whether the process's arguments name no locale, so that a command runs on
// its default one.
bool localeWasDefaulted();

}  // namespace tolva
