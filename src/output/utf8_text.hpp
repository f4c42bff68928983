#pragma once
// UTF-8 checks for text that crosses the listen protocol: command lines come
// from a parent that may send any bytes, and event lines must stay valid JSON.

#include <string>
#include <string_view>

namespace tolva {

// True when `text` is well-formed UTF-8 (no overlongs, surrogates or values
// beyond U+10FFFF).
bool isValidUtf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD, one replacement
// per maximal ill-formed subpart (the Unicode recommendation).
std::string withReplacementCharacters(std::string_view text);

}  // namespace tolva
