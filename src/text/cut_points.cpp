#include "text/cut_points.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>
#include <string_view>

namespace tolva::text {
namespace {

// Words that bind to the next one ("the | boat"): never a good place to cut,
// and what follows them is not a clause ("a | while").
constexpr std::array bindsForward{"a",  "an",  "the", "this", "these", "those", "my",  "your",
                                  "his", "her", "its", "our",  "their", "very",  "no", "every"};
// Words that begin a clause: a cut before them reads naturally.
constexpr std::array clauseStarts{"and",    "but",   "or",     "so",    "because", "which", "who",
                                  "whom",   "whose", "when",   "where", "while",   "if",    "although",
                                  "though", "until", "unless", "since", "whether", "then",  "yet"};
// Words that begin a phrase: a weaker cut, but better than none.
constexpr std::array phraseStarts{"to",   "of",    "in",      "on",    "at",     "for",  "with",  "from", "by",
                                  "into", "about", "through", "after", "before", "over", "under", "that", "as"};

std::string lowered(std::string_view word) {
  std::string out;
  for (char c : word) {
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '\'') {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

// The last character that is not a closing quote or bracket.
char finalMark(std::string_view word) {
  while (!word.empty() && (word.back() == '"' || word.back() == '\'' || word.back() == ')' || word.back() == ']')) {
    word.remove_suffix(1);
  }
  return word.empty() ? '\0' : word.back();
}

template <std::size_t N>
bool among(const std::array<const char*, N>& list, const std::string& word) {
  return std::any_of(list.begin(), list.end(), [&](const char* entry) { return word == entry; });
}

}  // namespace

double pauseAfter(const std::vector<CueWord>& words, std::size_t index) {
  if (index + 1 >= words.size()) return 0;
  double gap = words[index + 1].start - words[index].end;
  return std::isfinite(gap) && gap > 0 ? gap : 0;
}

double cutStrength(const std::vector<CueWord>& words, std::size_t index) {
  if (index + 1 >= words.size() || words[index].endsSegment) return 3;
  char mark = finalMark(words[index].text);
  double pause = pauseAfter(words, index);
  if (mark == '.' || mark == '!' || mark == '?' || pause >= clearPauseSeconds) return 3;
  if (among(bindsForward, lowered(words[index].text))) return pause >= shortPauseSeconds ? 1 : 0;
  double strength = pause >= shortPauseSeconds ? 2 : 0;
  std::string next = lowered(words[index + 1].text);
  if (mark == ',' || mark == ';' || mark == ':') {
    strength = std::max(strength, 1.5);
  } else if (among(clauseStarts, next)) {
    strength = std::max(strength, 1.0);
  } else if (among(phraseStarts, next)) {
    strength = std::max(strength, 0.5);
  }
  // A pause and a phrase boundary together are worth more than either.
  if (strength >= 2 && (mark == ',' || among(clauseStarts, next))) strength = 2.5;
  return strength;
}

}  // namespace tolva::text
