#include "text/written_text.hpp"

#include "text/capitals.hpp"
#include "text/numbers.hpp"
#include "text/sentence_marks.hpp"

namespace tolva::text {

std::vector<WrittenToken> writeText(const std::vector<SpokenWord>& words, const WrittenTextSettings& settings) {
  std::vector<std::string> spoken;
  spoken.reserve(words.size());
  for (const SpokenWord& word : words) spoken.push_back(word.text);
  std::vector<WrittenToken> tokens = writeNumbers(spoken);
  writeCapitals(tokens, spoken);
  writeSentenceMarks(tokens, words, settings);
  return tokens;
}

std::string joinTokens(const std::vector<WrittenToken>& tokens) {
  std::string text;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (i > 0) text += ' ';
    text += tokens[i].text;
  }
  return text;
}

}  // namespace tolva::text
