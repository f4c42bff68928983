#include "output/utf8_text.hpp"

#include <unicode/utf8.h>

#include <cstdint>

namespace tolva {

bool isValidUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  auto length = static_cast<std::int32_t>(text.size());
  std::int32_t at = 0;
  while (at < length) {
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string withReplacementCharacters(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  auto length = static_cast<std::int32_t>(text.size());
  std::string out;
  out.reserve(text.size());
  std::int32_t at = 0;
  while (at < length) {
    std::int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
    }
  }
  return out;
}

}  // namespace tolva
