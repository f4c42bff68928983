// Money, percentages, and counts.
#include <set>
#include <string_view>

#include "text/number_rules.hpp"
#include "text/spoken_numbers.hpp"

namespace tolva::text {
namespace {

// Units of time and measure: "3 days", "5 miles".
const std::set<std::string_view> units{"seconds", "minutes", "hours",      "days",      "weeks", "months",
                                       "years",   "miles",   "kilometers", "meters",    "feet",  "inches",
                                       "pounds",  "ounces",  "kilos",      "kilograms", "grams", "liters",
                                       "gallons", "degrees", "cents",      "euros",     "cups",  "percent"};

bool wordIs(const Words& words, std::size_t at, std::string_view word) {
  return at < words.size() && words[at] == word;
}

std::optional<SpokenNumber> cardinalAt(const Words& words, std::size_t at) {
  std::optional<SpokenNumber> n = readNumber(words, at);
  if (!n || n->ordinal) return std::nullopt;
  return n;
}

// "and fifty cents" after the dollars: ".50" and its words.
std::optional<WrittenPiece> centsAt(const Words& words, std::size_t at) {
  if (!wordIs(words, at, "and")) return std::nullopt;
  std::optional<SpokenNumber> cents = cardinalAt(words, at + 1);
  if (!cents || cents->value < 1 || cents->value > 99) return std::nullopt;
  std::size_t unit = at + 1 + cents->length;
  if (!wordIs(words, unit, "cents") && !wordIs(words, unit, "cent")) return std::nullopt;
  std::string digits = std::to_string(cents->value);
  if (digits.size() == 1) digits = "0" + digits;
  return WrittenPiece{"." + digits, unit + 1 - at};
}

}  // namespace

std::optional<Rewrite> writeAmount(const Words& words, std::size_t at) {
  std::optional<SpokenNumber> n = cardinalAt(words, at);
  if (!n) return std::nullopt;
  std::size_t next = at + n->length;
  if (wordIs(words, next, "percent")) return Rewrite{{groupedDigits(n->value) + "%", n->length + 1}};
  if (!wordIs(words, next, "dollars") && !wordIs(words, next, "dollar")) return std::nullopt;
  WrittenPiece money{"$" + groupedDigits(n->value), n->length + 1};
  if (std::optional<WrittenPiece> cents = centsAt(words, next + 1)) {
    money.text += cents->text;
    money.words += cents->words;
  }
  return Rewrite{money};
}

std::optional<Rewrite> writeCount(const Words& words, std::size_t at) {
  std::optional<SpokenNumber> n = readNumber(words, at);
  if (!n) return std::nullopt;
  if (n->ordinal) {
    if (n->value < 10) return std::nullopt;
    return Rewrite{{ordinalDigits(n->value), n->length}};
  }
  bool beforeUnit = at + n->length < words.size() && units.contains(words[at + n->length]);
  if (n->value >= 10 || (n->value >= 2 && beforeUnit)) return Rewrite{{groupedDigits(n->value), n->length}};
  return std::nullopt;
}

}  // namespace tolva::text
