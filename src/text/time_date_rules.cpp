// Times, dates and years.
#include <array>
#include <set>
#include <string_view>

#include "text/number_rules.hpp"
#include "text/spoken_numbers.hpp"

namespace tolva::text {
namespace {

// Words after which "three thirty" or "four" is a time of day.
const std::set<std::string_view> timeLeads{"at", "by", "until", "till", "around"};
// After "at four", these make the number something else: "at one point", "at
// two of them".
const std::set<std::string_view> notAfterHour{"of",    "point", "points", "time",  "times", "least",
                                              "other", "more",  "once",   "stage", "all",   "each"};

constexpr std::array<std::string_view, 12> months{"january",   "february", "march",    "april",
                                                  "may",       "june",     "july",     "august",
                                                  "september", "october",  "november", "december"};
// Months that are also common words: a day after them must be an ordinal.
const std::set<std::string_view> ambiguousMonths{"may", "march", "august"};

bool wordIs(const Words& words, std::size_t at, std::string_view word) {
  return at < words.size() && words[at] == word;
}

std::optional<SpokenNumber> plainNumber(const Words& words, std::size_t at, std::int64_t low, std::int64_t high) {
  std::optional<SpokenNumber> n = readNumber(words, at);
  if (!n || n->ordinal || n->scaled || n->value < low || n->value > high) return std::nullopt;
  return n;
}

// "a m", "p.m.", "pm" at `at`: the written marker and its words.
std::optional<WrittenPiece> dayHalf(const Words& words, std::size_t at) {
  if (at >= words.size()) return std::nullopt;
  const std::string& word = words[at];
  if (word == "a.m." || word == "am") return WrittenPiece{"AM", 1};
  if (word == "p.m." || word == "pm") return WrittenPiece{"PM", 1};
  if ((word == "a" || word == "p") && wordIs(words, at + 1, "m")) return WrittenPiece{word == "a" ? "AM" : "PM", 2};
  return std::nullopt;
}

// The minutes after an hour: "thirty" gives ":30", "oh five" gives ":05".
std::optional<WrittenPiece> minutesAt(const Words& words, std::size_t at) {
  if (wordIs(words, at, "oh")) {
    std::optional<SpokenNumber> n = plainNumber(words, at + 1, 1, 9);
    if (n && n->length == 1) return WrittenPiece{":0" + std::to_string(n->value), 2};
    return std::nullopt;
  }
  std::optional<SpokenNumber> n = plainNumber(words, at, 10, 59);
  if (!n) return std::nullopt;
  return WrittenPiece{":" + std::to_string(n->value), n->length};
}

// "half past six", "quarter past six", "quarter to six".
std::optional<Rewrite> writeClockPhrase(const Words& words, std::size_t at) {
  bool half = wordIs(words, at, "half");
  if (!half && !wordIs(words, at, "quarter")) return std::nullopt;
  bool past = wordIs(words, at + 1, "past");
  if (!past && (half || !wordIs(words, at + 1, "to"))) return std::nullopt;
  std::optional<SpokenNumber> hour = plainNumber(words, at + 2, 1, 12);
  if (!hour) return std::nullopt;
  std::int64_t h = past ? hour->value : (hour->value + 10) % 12 + 1;
  std::string minutes = half ? ":30" : past ? ":15" : ":45";
  return Rewrite{{std::to_string(h) + minutes, 2 + hour->length}};
}

}  // namespace

std::optional<std::string> monthName(const std::string& word) {
  for (std::string_view month : months) {
    if (word == month) {
      std::string name(month);
      name[0] = static_cast<char>(name[0] - 'a' + 'A');
      return name;
    }
  }
  return std::nullopt;
}

std::optional<Rewrite> writeTime(const Words& words, std::size_t at) {
  if (std::optional<Rewrite> phrase = writeClockPhrase(words, at)) return phrase;
  std::optional<SpokenNumber> hour = plainNumber(words, at, 1, 12);
  if (!hour) return std::nullopt;
  bool led = at > 0 && timeLeads.contains(words[at - 1]);
  std::size_t next = at + hour->length;
  WrittenPiece clock{std::to_string(hour->value), hour->length};
  std::optional<WrittenPiece> minutes = minutesAt(words, next);
  if (minutes) {
    clock.text += minutes->text;
    clock.words += minutes->words;
    next += minutes->words;
  }
  if (std::optional<WrittenPiece> half = dayHalf(words, next)) return Rewrite{clock, *half};
  if (wordIs(words, next, "o'clock")) return Rewrite{clock, {"o'clock", 1}};
  if (!led) return std::nullopt;
  if (!minutes && next < words.size() && notAfterHour.contains(words[next])) return std::nullopt;
  return Rewrite{clock};
}

std::optional<Rewrite> writeDate(const Words& words, std::size_t at) {
  // "the twenty first of june"
  if (wordIs(words, at, "the")) {
    std::optional<SpokenNumber> day = readNumber(words, at + 1);
    if (!day || !day->ordinal || day->value < 1 || day->value > 31) return std::nullopt;
    std::size_t of = at + 1 + day->length;
    if (!wordIs(words, of, "of") || of + 1 >= words.size()) return std::nullopt;
    std::optional<std::string> month = monthName(words[of + 1]);
    if (!month) return std::nullopt;
    return Rewrite{{*month + " " + std::to_string(day->value), of + 2 - at}};
  }
  // "march third", "march the third", "june twenty one"
  if (at >= words.size()) return std::nullopt;
  std::optional<std::string> month = monthName(words[at]);
  if (!month) return std::nullopt;
  std::size_t dayAt = wordIs(words, at + 1, "the") ? at + 2 : at + 1;
  std::optional<SpokenNumber> day = readNumber(words, dayAt);
  if (!day || day->scaled || day->value < 1 || day->value > 31) return std::nullopt;
  bool needsOrdinal = dayAt == at + 2 || ambiguousMonths.contains(words[at]);
  if (needsOrdinal && !day->ordinal) return std::nullopt;
  return Rewrite{{*month, 1}, {std::to_string(day->value), dayAt - at - 1 + day->length}};
}

std::optional<Rewrite> writeYear(const Words& words, std::size_t at) {
  std::optional<SpokenNumber> century = plainNumber(words, at, 15, 20);
  if (!century || century->length != 1) return std::nullopt;
  std::size_t next = at + 1;
  if (wordIs(words, next, "oh")) {
    std::optional<SpokenNumber> n = plainNumber(words, next + 1, 1, 9);
    if (!n || n->length != 1) return std::nullopt;
    return Rewrite{{std::to_string(century->value * 100 + n->value), 3}};
  }
  std::optional<SpokenNumber> rest = readNumber(words, next);
  if (!rest || rest->scaled || rest->value < 10 || rest->value > 99) return std::nullopt;
  std::string year = std::to_string(century->value * 100 + rest->value);
  if (rest->ordinal) return std::nullopt;
  return Rewrite{{year, 1 + rest->length}};
}

}  // namespace tolva::text
