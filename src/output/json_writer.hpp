#pragma once
// The one JSON writer of the system. Output is byte-exact:
//  - strings: UTF-8 as it is; '"', '\\' and '/' escaped (the slash as "\/");
//    control characters as \b \f \n \r \t or \u00XX;
//  - integers in decimal; doubles in the shortest form that reads back to the
//    same value, a whole double without a fraction (3.0 is "3");
//  - a non-finite double makes the whole encoding fail (std::nullopt).
// Pretty mode: each member and element on its own line, two spaces of indent
// per level, " : " between key and value, keys sorted; empty containers as
// "[]" and "{}". Compact mode: no whitespace at all.

#include <optional>
#include <string>

#include "output/json_value.hpp"

namespace tolva {

std::optional<std::string> writeJsonPretty(const JsonValue& value);
std::optional<std::string> writeJsonCompact(const JsonValue& value);

}  // namespace tolva
