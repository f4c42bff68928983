#pragma once
// The JSON of one command line, read with two mends to the plain parser:
//   - a number beyond the range of a double refuses the whole line there; here
//     it reads as null, which every key treats as an unusable value, so
//     {"cmd":"start","locale":"de-DE","chunkMs":1e400} still starts;
//   - a top-level `chunkMs` written as a fraction or an exponent keeps its
//     exact text: the nearest double may be a whole number the client never
//     wrote (-9223372036854775809 reads as -2^63).

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tolva {

struct CommandJson {
  nlohmann::json value;
  std::optional<std::string> chunkMsText;  // set only when chunkMs was read as a double
};

// Nothing when `text` is not valid JSON.
std::optional<CommandJson> parseCommandJson(std::string_view text);

// The value of a JSON number's text when it is exactly a whole number within
// the signed 64-bit range; nothing otherwise.
std::optional<std::int64_t> exactWholeNumber(std::string_view number);

}  // namespace tolva
