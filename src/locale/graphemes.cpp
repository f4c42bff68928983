#include "locale/graphemes.hpp"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

namespace tolva {
namespace {

icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::unique_ptr<icu::BreakIterator> characterBreaks(const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> breaks(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return nullptr;
  breaks->setText(text);
  return breaks;
}

}  // namespace

std::size_t graphemeCount(std::string_view text) {
  icu::UnicodeString unicode = toUnicode(text);
  auto breaks = characterBreaks(unicode);
  if (!breaks) return static_cast<std::size_t>(unicode.countChar32());
  std::size_t count = 0;
  for (int32_t at = breaks->next(); at != icu::BreakIterator::DONE; at = breaks->next()) ++count;
  return count;
}

std::vector<std::string> graphemes(std::string_view text) {
  icu::UnicodeString unicode = toUnicode(text);
  std::vector<std::string> clusters;
  auto breaks = characterBreaks(unicode);
  if (!breaks) return clusters;
  for (int32_t start = breaks->first(), end = breaks->next(); end != icu::BreakIterator::DONE;
       start = end, end = breaks->next()) {
    clusters.emplace_back();
    unicode.tempSubStringBetween(start, end).toUTF8String(clusters.back());
  }
  return clusters;
}

std::string lastGraphemes(std::string_view text, std::size_t count) {
  icu::UnicodeString unicode = toUnicode(text);
  auto breaks = characterBreaks(unicode);
  if (!breaks) return std::string(text);
  int32_t start = breaks->last();
  for (std::size_t kept = 0; kept < count; ++kept) {
    int32_t previous = breaks->previous();
    if (previous == icu::BreakIterator::DONE) return std::string(text);
    start = previous;
  }
  std::string out;
  unicode.tempSubString(start).toUTF8String(out);
  return out;
}

}  // namespace tolva
