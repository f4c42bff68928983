#pragma once
// How good a place the gap after a word is to cut running speech: for
// subtitle cues and for long segments. English rules: a sentence ends at
// . ! or ?; a clause or phrase begins before a conjunction, a relative
// pronoun or a preposition, or after , ; or :.

#include <cstddef>
#include <vector>

#include "text/subtitle_cues.hpp"

namespace tolva::text {

// A pause this long between two words is a clear cut; a shorter one helps.
inline constexpr double clearPauseSeconds = 0.5;
inline constexpr double shortPauseSeconds = 0.2;

// The strength of a cut after words[index], from 0 (inside a phrase) to 3
// (a sentence end, the end of a segment, a clear pause, or the last word):
// a short pause 2, after , ; or : 1.5, before a clause 1, before a phrase 0.5;
// after an article or a determiner at most 1 (a pause) and otherwise 0.
double cutStrength(const std::vector<CueWord>& words, std::size_t index);

// The silence after words[index] in seconds, 0 after the last word or when
// the next word starts before this one ends.
double pauseAfter(const std::vector<CueWord>& words, std::size_t index);

}  // namespace tolva::text
