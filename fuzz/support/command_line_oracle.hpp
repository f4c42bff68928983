#pragma once
// What a listen command line must give, worked out with nlohmann-json
// directly rather than through the parser under test.

#include <optional>
#include <string>
#include <string_view>

#include "live/protocol/command_line.hpp"

namespace tolva::fuzz {

// Fails the run when `parsed` (parseCommandLine of `line`) disagrees with
// nlohmann's reading of the line, where a number beyond a double's range
// reads as null instead of refusing the whole line, and a line that is not
// UTF-8 reads as if each ill-formed sequence were U+FFFD, but for the replay
// path, whose bytes are kept.
void checkParsed(std::string_view line, const CommandLine& parsed);

// The error code the router answers the command with, or nothing; `active`
// tells whether a session is active (an accepted start not yet finished).
std::optional<std::string> expectedErrorCode(const CommandLine& command, bool active);

}  // namespace tolva::fuzz
