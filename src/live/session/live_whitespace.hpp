#pragma once
// Trimming as the listen protocol defines it, on UTF-8 text.

#include <string_view>

namespace tolva {

// Without leading and trailing whitespace and line breaks: Unicode space,
// line and paragraph separators, U+0009 to U+000D and U+0085. Used on command
// lines.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// Without leading and trailing horizontal whitespace only: Unicode space
// separators and tab; line breaks stay. Used on requested locales.
std::string_view trimHorizontalWhitespace(std::string_view text);

}  // namespace tolva
