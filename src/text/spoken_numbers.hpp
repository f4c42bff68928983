#pragma once
// Numbers as they are spoken: "three hundred and twelve", "twenty first",
// "a thousand", "twenty-five". Reading finds the longest well-formed number at
// a position and never joins two numbers said one after the other ("five ten"
// is two numbers).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolva::text {

struct SpokenNumber {
  std::int64_t value = 0;
  std::size_t length = 0;  // words read
  bool ordinal = false;    // ends in an ordinal word: "twenty first"
  bool scaled = false;     // says "hundred", "thousand" or "million"
};

// The number spoken at words[at], or nothing when no number starts there.
std::optional<SpokenNumber> readNumber(const std::vector<std::string>& words, std::size_t at);

// The value of one number word below 100 ("seven", "twelve", "forty",
// "third"), or nothing.
std::optional<int> numberWordValue(std::string_view word);

// Digits with a comma between thousands: 2500 gives "2,500".
std::string groupedDigits(std::int64_t value);

// "1st", "2nd", "3rd", "11th", "21st".
std::string ordinalDigits(std::int64_t value);

}  // namespace tolva::text
