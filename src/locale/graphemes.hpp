#pragma once
// User-perceived characters (ICU extended grapheme clusters) of UTF-8 text.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolva {

std::size_t graphemeCount(std::string_view text);

// The grapheme clusters of `text`, in order, as UTF-8.
std::vector<std::string> graphemes(std::string_view text);

// The last `count` grapheme clusters of `text` (all of it when it has fewer).
std::string lastGraphemes(std::string_view text, std::size_t count);

}  // namespace tolva
