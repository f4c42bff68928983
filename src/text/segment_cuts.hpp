#pragma once
// Cutting a long stretch of speech into pieces no longer than a limit: at the
// longest pause inside it, or where there is no pause, at the word boundary
// that reads best nearest its middle; again in each piece that is still too
// long. A word is never cut, so a single word longer than the limit stays one
// piece.

#include <cstddef>
#include <vector>

#include "text/subtitle_cues.hpp"

namespace tolva::text {

// Silences shorter than this are the recogniser's jitter, not pauses.
inline constexpr double shortestPauseSeconds = 0.05;

// Inclusive indices into the words.
struct WordSpan {
  std::size_t first = 0;
  std::size_t last = 0;

  bool operator==(const WordSpan&) const = default;
};

// The pieces of `words`, in order, covering every word once; each lasts from
// its first word's start to its last word's end at most `maxSeconds`.
std::vector<WordSpan> cutAtPauses(const std::vector<CueWord>& words, double maxSeconds);

}  // namespace tolva::text
