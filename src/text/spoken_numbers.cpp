#include "text/spoken_numbers.hpp"

#include <array>

namespace tolva::text {
namespace {

// What a number word is, which decides what may follow it.
enum class Part { none, unit, teen, tens, hundred, scale };

struct NumberWord {
  std::string_view cardinal;
  std::string_view ordinal;
  int value;
  Part part;
};

constexpr std::array<NumberWord, 28> numberWords{{
    {"one", "first", 1, Part::unit},
    {"two", "second", 2, Part::unit},
    {"three", "third", 3, Part::unit},
    {"four", "fourth", 4, Part::unit},
    {"five", "fifth", 5, Part::unit},
    {"six", "sixth", 6, Part::unit},
    {"seven", "seventh", 7, Part::unit},
    {"eight", "eighth", 8, Part::unit},
    {"nine", "ninth", 9, Part::unit},
    {"ten", "tenth", 10, Part::teen},
    {"eleven", "eleventh", 11, Part::teen},
    {"twelve", "twelfth", 12, Part::teen},
    {"thirteen", "thirteenth", 13, Part::teen},
    {"fourteen", "fourteenth", 14, Part::teen},
    {"fifteen", "fifteenth", 15, Part::teen},
    {"sixteen", "sixteenth", 16, Part::teen},
    {"seventeen", "seventeenth", 17, Part::teen},
    {"eighteen", "eighteenth", 18, Part::teen},
    {"nineteen", "nineteenth", 19, Part::teen},
    {"twenty", "twentieth", 20, Part::tens},
    {"thirty", "thirtieth", 30, Part::tens},
    {"forty", "fortieth", 40, Part::tens},
    {"fifty", "fiftieth", 50, Part::tens},
    {"sixty", "sixtieth", 60, Part::tens},
    {"seventy", "seventieth", 70, Part::tens},
    {"eighty", "eightieth", 80, Part::tens},
    {"ninety", "ninetieth", 90, Part::tens},
    {"zero", "", 0, Part::unit},
}};

struct Scale {
  std::string_view cardinal;
  std::string_view ordinal;
  std::int64_t value;
};

constexpr std::array<Scale, 3> scales{{
    {"hundred", "hundredth", 100},
    {"thousand", "thousandth", 1000},
    {"million", "millionth", 1000000},
}};

struct WordMeaning {
  std::int64_t value = 0;
  Part part = Part::none;
  bool ordinal = false;
};

std::optional<WordMeaning> meaningOf(std::string_view word) {
  for (const NumberWord& n : numberWords) {
    if (word == n.cardinal) return WordMeaning{n.value, n.part, false};
    if (!n.ordinal.empty() && word == n.ordinal) return WordMeaning{n.value, n.part, true};
  }
  for (const Scale& s : scales) {
    if (word == s.cardinal) return WordMeaning{s.value, s.value == 100 ? Part::hundred : Part::scale, false};
    if (word == s.ordinal) return WordMeaning{s.value, s.value == 100 ? Part::hundred : Part::scale, true};
  }
  return std::nullopt;
}

// The number being read, one part at a time.
class NumberReader {
 public:
  // Takes one more part; false when it cannot continue the number.
  bool take(const WordMeaning& word) {
    if (ordinal_ || !fits(word)) return false;
    if (word.part == Part::hundred) {
      group_ = group_ * 100;
    } else if (word.part == Part::scale) {
      total_ += group_ * word.value;
      group_ = 0;
      lastScale_ = word.value;
    } else {
      group_ += word.value;
    }
    if (word.part == Part::hundred || word.part == Part::scale) scaled_ = true;
    // "zero" is a number alone, never a part of one.
    zero_ = word.value == 0 && word.part == Part::unit;
    last_ = word.part;
    ordinal_ = word.ordinal;
    return true;
  }

  bool mayTakeAnd() const { return !ordinal_ && (last_ == Part::hundred || last_ == Part::scale); }
  Part last() const { return last_; }
  SpokenNumber result(std::size_t length) const { return {total_ + group_, length, ordinal_, scaled_}; }

 private:
  bool fits(const WordMeaning& word) const {
    if (zero_) return false;
    bool afterNothing = last_ == Part::none;
    bool afterScale = last_ == Part::hundred || last_ == Part::scale;
    switch (word.part) {
      case Part::unit:
        if (word.value == 0) return afterNothing;
        return afterNothing || afterScale || last_ == Part::tens;
      case Part::teen:
      case Part::tens:
        return afterNothing || afterScale;
      case Part::hundred:
        // "three hundred", "nineteen hundred", "twenty five hundred"
        return group_ > 0 && group_ < 100 && last_ != Part::none && !afterScale;
      case Part::scale:
        return group_ > 0 && word.value < lastScale_ && last_ != Part::scale;
      case Part::none:
        return false;
    }
    return false;
  }

  std::int64_t total_ = 0;
  std::int64_t group_ = 0;
  std::int64_t lastScale_ = INT64_MAX;
  Part last_ = Part::none;
  bool ordinal_ = false;
  bool scaled_ = false;
  bool zero_ = false;
};

// The parts of one word: "twenty-five" has two.
std::optional<std::vector<WordMeaning>> partsOf(std::string_view word) {
  std::vector<WordMeaning> parts;
  while (true) {
    std::size_t hyphen = word.find('-');
    std::optional<WordMeaning> meaning = meaningOf(word.substr(0, hyphen));
    if (!meaning) return std::nullopt;
    parts.push_back(*meaning);
    if (hyphen == std::string_view::npos) return parts;
    word = word.substr(hyphen + 1);
  }
}

bool takesWord(NumberReader& reader, std::string_view word) {
  std::optional<std::vector<WordMeaning>> parts = partsOf(word);
  if (!parts) return false;
  NumberReader trial = reader;
  for (const WordMeaning& part : *parts) {
    if (!trial.take(part)) return false;
  }
  reader = trial;
  return true;
}

bool startsScale(const std::vector<std::string>& words, std::size_t at) {
  return at < words.size() && (words[at] == "hundred" || words[at] == "thousand" || words[at] == "million");
}

}  // namespace

std::optional<SpokenNumber> readNumber(const std::vector<std::string>& words, std::size_t at) {
  NumberReader reader;
  std::size_t next = at;
  // "a hundred", "a thousand"
  if (next < words.size() && words[next] == "a" && startsScale(words, next + 1)) {
    reader.take({1, Part::unit, false});
    ++next;
  }
  std::size_t end = at;
  while (next < words.size()) {
    if (words[next] == "and" && reader.mayTakeAnd() && next + 1 < words.size()) {
      NumberReader trial = reader;
      if (!takesWord(trial, words[next + 1]) || trial.last() == Part::hundred || trial.last() == Part::scale) break;
      reader = trial;
      next += 2;
    } else if (takesWord(reader, words[next])) {
      ++next;
    } else {
      break;
    }
    end = next;
  }
  if (end == at) return std::nullopt;
  return reader.result(end - at);
}

std::optional<int> numberWordValue(std::string_view word) {
  std::optional<WordMeaning> meaning = meaningOf(word);
  if (!meaning || meaning->value >= 100) return std::nullopt;
  return static_cast<int>(meaning->value);
}

std::string groupedDigits(std::int64_t value) {
  std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string ordinalDigits(std::int64_t value) {
  std::int64_t lastTwo = value % 100;
  std::string_view suffix = "th";
  if (lastTwo < 11 || lastTwo > 13) {
    if (value % 10 == 1) suffix = "st";
    if (value % 10 == 2) suffix = "nd";
    if (value % 10 == 3) suffix = "rd";
  }
  return std::to_string(value) + std::string(suffix);
}

}  // namespace tolva::text
