#pragma once
// User-perceived characters (ICU extended grapheme clusters) of UTF-8 text.

#include <cstddef>
#include <string>
#include <string_view>

namespace tolva {

std::size_t graphemeCount(std::string_view text);

// The last `count` grapheme clusters of `text` (all of it when it has fewer).
std::string lastGraphemes(std::string_view text, std::size_t count);

}  // namespace tolva
