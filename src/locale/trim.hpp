#pragma once
// Trimming of UTF-8 text, for the transcript and for listen command lines.

#include <string_view>

namespace tolva {

// `text` without the white space and line breaks at both ends: the Unicode
// White_Space characters (space, line and paragraph separators, U+0009 to
// U+000D and U+0085). Ill-formed bytes are never trimmed: they end the scan.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// Without leading and trailing horizontal white space only: Unicode space
// separators and tab; line breaks stay. Used on requested locales.
std::string_view trimHorizontalWhitespace(std::string_view text);

}  // namespace tolva
