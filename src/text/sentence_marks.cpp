#include "text/sentence_marks.hpp"

#include <set>
#include <string_view>

namespace tolva::text {
namespace {

const std::set<std::string_view> questionWords{"what", "who", "whom", "whose", "which", "why"};
// Questions when a verb or a measure follows: "how do", "when is", "how
// many"; not "when you get home".
const std::set<std::string_view> questionWordsBeforeVerb{"how", "when", "where"};

const std::set<std::string_view> auxiliaries{
    "can",    "could",   "will",    "would",  "shall",    "should",    "do",      "does",  "did",
    "is",     "are",     "was",     "were",   "have",     "has",       "had",     "may",   "might",
    "must",   "am",      "can't",   "won't",  "don't",    "doesn't",   "didn't",  "isn't", "aren't",
    "wasn't", "weren't", "haven't", "hasn't", "wouldn't", "shouldn't", "couldn't"};

const std::set<std::string_view> subjects{
    "i",     "you",   "we",     "they",    "he",      "she",      "it",       "there",      "this",     "that",
    "these", "those", "your",   "my",      "our",     "his",      "her",      "their",      "the",      "a",
    "an",    "one",   "anyone", "anybody", "someone", "somebody", "everyone", "everything", "anything", "something"};

const std::set<std::string_view> howMeasures{"much", "many", "long", "far", "often", "old", "about"};

bool pauseBefore(const std::vector<WrittenToken>& tokens, std::size_t i, const std::vector<SpokenWord>& words,
                 const WrittenTextSettings& settings) {
  double pause = words[tokens[i].firstWord].start - words[tokens[i - 1].lastWord].end;
  return pause >= settings.sentencePauseSeconds;
}

void capitaliseFirst(std::string& text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
}

// Ends the sentence of tokens [first, last].
void markSentence(std::vector<WrittenToken>& tokens, std::size_t first, std::size_t last,
                  const std::vector<SpokenWord>& words) {
  std::vector<std::string> spoken;
  for (std::size_t w = tokens[first].firstWord; w <= tokens[last].lastWord; ++w) spoken.push_back(words[w].text);
  capitaliseFirst(tokens[first].text);
  tokens[last].text += isQuestion(spoken) ? '?' : '.';
}

}  // namespace

bool isQuestion(const std::vector<std::string>& sentence) {
  if (sentence.size() < 2) return false;
  const std::string& first = sentence[0];
  const std::string& second = sentence[1];
  if (questionWords.contains(first)) return true;
  if (questionWordsBeforeVerb.contains(first)) {
    return auxiliaries.contains(second) || (first == "how" && howMeasures.contains(second));
  }
  return auxiliaries.contains(first) && subjects.contains(second);
}

void writeSentenceMarks(std::vector<WrittenToken>& tokens, const std::vector<SpokenWord>& words,
                        const WrittenTextSettings& settings) {
  if (tokens.empty()) return;
  std::size_t first = 0;
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    if (!pauseBefore(tokens, i, words, settings)) continue;
    markSentence(tokens, first, i - 1, words);
    first = i;
  }
  markSentence(tokens, first, tokens.size() - 1, words);
}

}  // namespace tolva::text
