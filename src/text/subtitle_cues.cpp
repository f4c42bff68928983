#include "text/subtitle_cues.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "locale/graphemes.hpp"
#include "text/cut_points.hpp"

namespace tolva::text {
namespace {

std::int64_t milliseconds(double seconds) {
  return std::isfinite(seconds) ? static_cast<std::int64_t>(std::llround(seconds * 1000)) : 0;
}

// The characters of words [first, last] on one line, single-spaced.
std::size_t lineLength(const std::vector<std::size_t>& lengths, std::size_t first, std::size_t last) {
  std::size_t total = last - first;  // the spaces
  for (std::size_t i = first; i <= last; ++i) total += lengths[i];
  return total;
}

std::string joinedWords(const std::vector<CueWord>& words, std::size_t first, std::size_t last) {
  std::string line;
  for (std::size_t i = first; i <= last; ++i) {
    if (i > first) line += ' ';
    line += words[i].text;
  }
  return line;
}

std::vector<std::size_t> wordLengths(const std::vector<CueWord>& words) {
  std::vector<std::size_t> lengths;
  lengths.reserve(words.size());
  for (const CueWord& word : words) lengths.push_back(graphemeCount(word.text));
  return lengths;
}

// Where the words [first, last] break into lines: the index of the last word
// of each line but the last. Nothing when they need more lines than allowed.
// Two lines are balanced; more are filled greedily.
std::optional<std::vector<std::size_t>> lineBreaks(const std::vector<std::size_t>& lengths, std::size_t first,
                                                   std::size_t last, const CueLimits& limits) {
  if (lineLength(lengths, first, last) <= limits.lineChars) return std::vector<std::size_t>{};
  if (limits.lines < 2) return std::nullopt;
  if (limits.lines == 2) {
    std::optional<std::size_t> best;
    std::size_t bestDifference = 0;
    for (std::size_t cut = first; cut < last; ++cut) {
      std::size_t top = lineLength(lengths, first, cut);
      std::size_t bottom = lineLength(lengths, cut + 1, last);
      if (top > limits.lineChars || bottom > limits.lineChars) continue;
      std::size_t difference = top > bottom ? top - bottom : bottom - top;
      if (!best || difference < bestDifference) best = cut, bestDifference = difference;
    }
    if (!best) return std::nullopt;
    return std::vector<std::size_t>{*best};
  }
  std::vector<std::size_t> breaks;
  std::size_t lineStart = first;
  for (std::size_t i = first; i <= last; ++i) {
    if (i > lineStart && lineLength(lengths, lineStart, i) > limits.lineChars) {
      breaks.push_back(i - 1);
      lineStart = i;
    }
    if (lengths[i] > limits.lineChars) return std::nullopt;
  }
  if (breaks.size() + 1 > limits.lines) return std::nullopt;
  return breaks;
}

std::vector<std::string> linesOf(const std::vector<CueWord>& words, const std::vector<std::size_t>& lengths,
                                 std::size_t first, std::size_t last, const CueLimits& limits) {
  auto breaks = lineBreaks(lengths, first, last, limits);
  if (!breaks) return {};
  std::vector<std::string> lines;
  std::size_t lineStart = first;
  for (std::size_t lineEnd : *breaks) {
    lines.push_back(joinedWords(words, lineStart, lineEnd));
    lineStart = lineEnd + 1;
  }
  lines.push_back(joinedWords(words, lineStart, last));
  return lines;
}

class CueCutter {
 public:
  CueCutter(const std::vector<CueWord>& words, const CueLimits& limits)
      : words_(words), limits_(limits), lengths_(wordLengths(words)) {}

  std::vector<Cue> cut() {
    std::vector<Cue> cues;
    for (std::size_t first = 0; first < words_.size();) {
      std::size_t last = cueEnd(first);
      cues.push_back(makeCue(first, last));
      first = last + 1;
    }
    settleTimes(cues);
    return cues;
  }

 private:
  bool fits(std::size_t first, std::size_t last) const {
    if (words_[last].end - words_[first].start > limits_.maxSeconds) return false;
    return lineBreaks(lengths_, first, last, limits_).has_value();
  }

  // How full the cue [first, last] is, 0 to 1, by its text or its time.
  double fill(std::size_t first, std::size_t last) const {
    double chars = static_cast<double>(lineLength(lengths_, first, last)) /
                   static_cast<double>(std::max<std::size_t>(limits_.lineChars * limits_.lines, 1));
    double seconds = (words_[last].end - words_[first].start) / limits_.maxSeconds;
    return std::clamp(std::max(chars, std::isfinite(seconds) ? seconds : 0.0), 0.0, 1.0);
  }

  // The last word of the cue that starts at `first`: the best place to cut
  // among those that keep the cue within its limits. A strong cut early on
  // beats a weak one at the end, but a cue that is fuller scores higher too,
  // so that one word of a sentence does not make a cue of its own.
  std::size_t cueEnd(std::size_t first) const {
    std::size_t longest = first;
    while (longest + 1 < words_.size() && fits(first, longest + 1)) ++longest;
    if (longest + 1 == words_.size()) return longest;
    std::size_t best = longest;
    double bestScore = -1;
    for (std::size_t last = first; last <= longest; ++last) {
      double score = cutStrength(words_, last) + fillWeight * fill(first, last);
      if (score >= bestScore) best = last, bestScore = score;
    }
    return best;
  }

  Cue makeCue(std::size_t first, std::size_t last) const {
    std::vector<std::string> lines = linesOf(words_, lengths_, first, last, limits_);
    if (lines.empty()) lines.push_back(joinedWords(words_, first, last));  // one word too long for a line
    return {milliseconds(words_[first].start), milliseconds(words_[last].end), std::move(lines)};
  }

  // Orders the times (bad word times must not make cues overlap), keeps each
  // cue within its longest time on screen, and lets a short one stay up
  // until the next begins or its shortest time is reached.
  void settleTimes(std::vector<Cue>& cues) const {
    auto maxMs = milliseconds(limits_.maxSeconds);
    auto minMs = std::min(milliseconds(limits_.minSeconds), maxMs);
    for (std::size_t i = 0; i < cues.size(); ++i) {
      Cue& cue = cues[i];
      if (i > 0) cue.startMs = std::max(cue.startMs, cues[i - 1].endMs);
      cue.endMs = std::clamp(cue.endMs, cue.startMs + 1, std::max(cue.startMs + maxMs, cue.startMs + 1));
      if (cue.endMs - cue.startMs < minMs) {
        std::int64_t room = i + 1 < cues.size() ? cues[i + 1].startMs : cue.startMs + minMs;
        cue.endMs = std::max(cue.endMs, std::min(cue.startMs + minMs, room));
      }
    }
  }

  static constexpr double fillWeight = 1;

  const std::vector<CueWord>& words_;
  CueLimits limits_;
  std::vector<std::size_t> lengths_;
};

}  // namespace

std::vector<std::string> cueLines(const std::vector<CueWord>& words, std::size_t first, std::size_t last,
                                  const CueLimits& limits) {
  if (first > last || last >= words.size()) return {};
  return linesOf(words, wordLengths(words), first, last, limits);
}

std::vector<Cue> subtitleCues(const std::vector<CueWord>& words, const CueLimits& limits) {
  return CueCutter(words, limits).cut();
}

}  // namespace tolva::text
