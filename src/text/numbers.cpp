#include "text/numbers.hpp"

#include "text/number_rules.hpp"

namespace tolva::text {
namespace {

using Rule = std::optional<Rewrite> (*)(const Words&, std::size_t);

// The most specific rule first: "at three thirty" is a time before it is a
// count, "nineteen ninety nine" a year before two counts.
constexpr Rule rules[] = {writeTime, writeDate, writeAmount, writeYear, writeCount};

}  // namespace

std::vector<WrittenToken> writeNumbers(const std::vector<std::string>& words) {
  std::vector<WrittenToken> tokens;
  std::size_t at = 0;
  while (at < words.size()) {
    std::optional<Rewrite> rewrite;
    for (Rule rule : rules) {
      if ((rewrite = rule(words, at))) break;
    }
    if (!rewrite) {
      tokens.push_back({words[at], at, at});
      ++at;
      continue;
    }
    for (const WrittenPiece& piece : *rewrite) {
      tokens.push_back({piece.text, at, at + piece.words - 1});
      at += piece.words;
    }
  }
  return tokens;
}

}  // namespace tolva::text
