#pragma once
// The rules that write numbers, each tried at one word: what it writes there
// and how many words each written piece stands for, or nothing.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tolva::text {

struct WrittenPiece {
  std::string text;
  std::size_t words = 1;
};
using Rewrite = std::vector<WrittenPiece>;
using Words = std::vector<std::string>;

// "at three thirty", "four p m", "half past six", "at four".
std::optional<Rewrite> writeTime(const Words& words, std::size_t at);
// "march third", "the twenty first of june".
std::optional<Rewrite> writeDate(const Words& words, std::size_t at);
// "nineteen ninety nine", "twenty twenty six".
std::optional<Rewrite> writeYear(const Words& words, std::size_t at);
// "twenty dollars", "five dollars and fifty cents", "fifteen percent".
std::optional<Rewrite> writeAmount(const Words& words, std::size_t at);
// Cardinals and ordinals from 10 up; two to nine before a unit.
std::optional<Rewrite> writeCount(const Words& words, std::size_t at);

// The month a word names ("march" gives "March"), or nothing.
std::optional<std::string> monthName(const std::string& word);

}  // namespace tolva::text
