#pragma once
// The casing lexicon: words written only with a capital (names of people,
// places and organisations, nationalities, languages), generated at build
// time from the system word list by cmake/casing_lexicon.py. Entries are
// sorted by their lower-case spelling.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolva::text {

extern const char* const casingLexiconEntries[];
extern const std::size_t casingLexiconSize;

// How the lexicon writes a lower-case word ("paris" gives "Paris", "patel's"
// gives "Patel's"), or nothing when the word is not in it.
std::optional<std::string> lexiconCasing(std::string_view word);

}  // namespace tolva::text
