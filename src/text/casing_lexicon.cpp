#include "text/casing_lexicon.hpp"

#include <algorithm>

namespace tolva::text {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The entry compared with a lower-case word, ignoring the entry's case.
bool entryBefore(std::string_view entry, std::string_view word) {
  return std::lexicographical_compare(entry.begin(), entry.end(), word.begin(), word.end(), [](char a, char b) {
    return static_cast<unsigned char>(lower(a)) < static_cast<unsigned char>(lower(b));
  });
}

bool entryIs(std::string_view entry, std::string_view word) {
  return entry.size() == word.size() &&
         std::equal(entry.begin(), entry.end(), word.begin(), [](char a, char b) { return lower(a) == b; });
}

std::optional<std::string_view> find(std::string_view word) {
  const char* const* end = casingLexiconEntries + casingLexiconSize;
  const char* const* found = std::lower_bound(casingLexiconEntries, end, word, entryBefore);
  if (found == end || !entryIs(*found, word)) return std::nullopt;
  return std::string_view(*found);
}

}  // namespace

std::optional<std::string> lexiconCasing(std::string_view word) {
  if (std::optional<std::string_view> entry = find(word)) return std::string(*entry);
  if (word.size() > 2 && word.ends_with("'s")) {
    if (std::optional<std::string_view> entry = find(word.substr(0, word.size() - 2))) {
      return std::string(*entry) + "'s";
    }
  }
  return std::nullopt;
}

}  // namespace tolva::text
