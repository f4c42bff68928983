#include "text/capitals.hpp"

#include <map>
#include <set>
#include <string_view>

#include "text/casing_lexicon.hpp"
#include "text/number_rules.hpp"

namespace tolva::text {
namespace {

const std::map<std::string_view, std::string_view> pronounI{
    {"i", "I"}, {"i'm", "I'm"}, {"i'll", "I'll"}, {"i've", "I've"}, {"i'd", "I'd"}};

const std::set<std::string_view> days{"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};

// "may", "march" and "august" are months after these words.
const std::set<std::string_view> ambiguousMonths{"may", "march", "august"};
const std::set<std::string_view> monthLeads{"in",   "since", "until", "till", "during", "early",
                                            "late", "mid",   "next",  "last", "of",     "through"};
// "this march" is a month, "this may" a verb.
const std::set<std::string_view> marchAugustLeads{"this", "every", "from", "by"};

// Titles always abbreviated, and those abbreviated only before a name.
const std::map<std::string_view, std::string_view> shortTitles{
    {"mr", "Mr."}, {"mrs", "Mrs."}, {"ms", "Ms."}, {"dr", "Dr."}};
const std::map<std::string_view, std::string_view> spokenTitles{
    {"mister", "Mr."}, {"missus", "Mrs."}, {"doctor", "Dr."}};

std::string capitalised(std::string_view word) {
  std::string written(word);
  if (!written.empty() && written[0] >= 'a' && written[0] <= 'z') written[0] = static_cast<char>(written[0] - 32);
  return written;
}

std::string withoutPossessive(std::string_view word) {
  return std::string(word.ends_with("'s") ? word.substr(0, word.size() - 2) : word);
}

bool isAmbiguousMonth(const std::vector<std::string>& words, std::size_t at) {
  if (at == 0) return false;
  const std::string& lead = words[at - 1];
  return monthLeads.contains(lead) || (words[at] != "may" && marchAugustLeads.contains(lead));
}

// How the word at `at` is written inside a sentence, or nothing to keep it.
std::optional<std::string> capitalOf(const std::vector<std::string>& words, std::size_t at) {
  const std::string& word = words[at];
  if (auto found = pronounI.find(word); found != pronounI.end()) return std::string(found->second);
  std::string stem = withoutPossessive(word);
  if (days.contains(stem) || (stem.ends_with('s') && days.contains(stem.substr(0, stem.size() - 1)))) {
    return capitalised(word);
  }
  if (monthName(stem)) {
    if (!ambiguousMonths.contains(stem) || isAmbiguousMonth(words, at)) return capitalised(word);
    return std::nullopt;
  }
  return lexiconCasing(word);
}

bool untouched(const WrittenToken& token, const std::vector<std::string>& words) {
  return token.firstWord == token.lastWord && token.text == words[token.firstWord];
}

bool startsWithCapital(const std::string& text) { return !text.empty() && text[0] >= 'A' && text[0] <= 'Z'; }

void writeTitles(std::vector<WrittenToken>& tokens, const std::vector<std::string>& words) {
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    // Single words only: the lexicon may have written "dr" as "Dr" already.
    if (tokens[i].firstWord != tokens[i].lastWord) continue;
    const std::string& word = words[tokens[i].firstWord];
    bool nameFollows = startsWithCapital(tokens[i + 1].text) && tokens[i + 1].text != "I";
    if (auto found = shortTitles.find(word); found != shortTitles.end()) {
      tokens[i].text = found->second;
    } else if (auto spoken = spokenTitles.find(word); spoken != spokenTitles.end() && nameFollows) {
      tokens[i].text = spoken->second;
    }
  }
}

}  // namespace

void writeCapitals(std::vector<WrittenToken>& tokens, const std::vector<std::string>& words) {
  for (WrittenToken& token : tokens) {
    if (!untouched(token, words)) continue;
    if (std::optional<std::string> written = capitalOf(words, token.firstWord)) token.text = *written;
  }
  writeTitles(tokens, words);
}

}  // namespace tolva::text
