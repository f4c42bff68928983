#include "locale/trim.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace tolva {
namespace {

using Predicate = bool (*)(UChar32);

bool isWhitespaceOrNewline(UChar32 c) { return u_isUWhiteSpace(c); }

bool isHorizontalWhitespace(UChar32 c) { return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR; }

std::string_view trim(std::string_view text, Predicate drop) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  auto length = static_cast<std::int32_t>(text.size());
  std::int32_t begin = 0;
  while (begin < length) {
    std::int32_t next = begin;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !drop(c)) break;
    begin = next;
  }
  std::int32_t end = length;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c;
    U8_PREV(bytes, begin, previous, c);
    if (c < 0 || !drop(c)) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

}  // namespace

std::string_view trimWhitespaceAndNewlines(std::string_view text) { return trim(text, isWhitespaceOrNewline); }

std::string_view trimHorizontalWhitespace(std::string_view text) { return trim(text, isHorizontalWhitespace); }

}  // namespace tolva
