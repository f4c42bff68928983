#pragma once
// The diagnostic log: one compact JSON object per line on standard error,
//   {"t":"<seconds since processStart, three decimals>","event":"<name>",...fields}
// Each line leaves in one unbuffered write, so lines from different threads do
// not mix. The log never fails its caller and never waits for the reader: a
// line that cannot be encoded (a non-finite number) is dropped silently, and
// one that cannot be written at once is dropped and counted in a
// "log.dropped" line (log_writer.hpp).

#include <optional>
#include <string>
#include <string_view>

#include "output/json_value.hpp"

namespace tolva {

using LogFields = JsonObject;

void log(std::string_view event, LogFields fields = {});

// From now on log() writes nothing in this process: for a child forked from a
// process with other threads, where the writer's lock may be held forever.
void silenceLog();

// The encoded line (with its line feed) that log() would write at `seconds`,
// or nothing when it cannot be encoded.
std::optional<std::string> logLine(double seconds, std::string_view event, LogFields fields);

}  // namespace tolva
