#pragma once
// UTF-8 checks for text that crosses into our output: paths, locale
// identifiers, platform messages and command lines may hold any bytes, and
// everything written must stay valid UTF-8 JSON.

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
