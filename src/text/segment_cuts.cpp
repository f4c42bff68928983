#include "text/segment_cuts.hpp"

#include <cmath>

#include "text/cut_points.hpp"

namespace tolva::text {
namespace {

double lengthOf(const std::vector<CueWord>& words, std::size_t first, std::size_t last) {
  return words[last].end - words[first].start;
}

// The gap after which [first, last] is cut: the longest pause, or without
// one the strongest cut point, the one nearest the middle among equals.
std::size_t cutAfter(const std::vector<CueWord>& words, std::size_t first, std::size_t last) {
  double middle = (words[first].start + words[last].end) / 2;
  std::size_t best = first;
  double bestPause = -1;
  double bestStrength = -1;
  double bestDistance = 0;
  for (std::size_t i = first; i < last; ++i) {
    double pause = pauseAfter(words, i);
    if (pause < shortestPauseSeconds) pause = 0;
    double strength = cutStrength(words, i);
    double distance = std::fabs(words[i].end - middle);
    bool better = pause != bestPause         ? pause > bestPause
                  : strength != bestStrength ? strength > bestStrength
                                             : distance < bestDistance;
    if (better) best = i, bestPause = pause, bestStrength = strength, bestDistance = distance;
  }
  return best;
}

void cut(const std::vector<CueWord>& words, std::size_t first, std::size_t last, double maxSeconds,
         std::vector<WordSpan>& pieces) {
  // Written so that a non-finite length is kept whole rather than cut forever.
  if (first == last || !(lengthOf(words, first, last) > maxSeconds)) {
    pieces.push_back({first, last});
    return;
  }
  std::size_t at = cutAfter(words, first, last);
  cut(words, first, at, maxSeconds, pieces);
  cut(words, at + 1, last, maxSeconds, pieces);
}

}  // namespace

std::vector<WordSpan> cutAtPauses(const std::vector<CueWord>& words, double maxSeconds) {
  std::vector<WordSpan> pieces;
  if (!words.empty()) cut(words, 0, words.size() - 1, maxSeconds, pieces);
  return pieces;
}

}  // namespace tolva::text
