#include "commands/transcript_shaping.hpp"

#include <sstream>

#include "locale/graphemes.hpp"
#include "text/segment_cuts.hpp"

namespace tolva {
namespace {

std::vector<std::string> wordsOfText(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// The text's words over the segment's time, each as long as its share of the
// characters (a space counted after each).
std::vector<text::CueWord> spreadWords(const Segment& segment) {
  std::vector<std::string> words = wordsOfText(segment.text);
  std::vector<text::CueWord> spread;
  double characters = 0;
  for (const std::string& word : words) characters += static_cast<double>(graphemeCount(word)) + 1;
  double perCharacter = characters > 0 ? (segment.end - segment.start) / characters : 0;
  double at = segment.start;
  for (const std::string& word : words) {
    double length = static_cast<double>(graphemeCount(word)) * perCharacter;
    spread.push_back({word, at, at + length, false});
    at += length + perCharacter;
  }
  return spread;
}

std::vector<Segment> cutSegment(const Segment& segment, double maxSeconds) {
  std::vector<text::CueWord> words = cueWordsOf(segment);
  std::vector<text::WordSpan> pieces = text::cutAtPauses(words, maxSeconds);
  if (pieces.size() <= 1) return {segment};
  std::vector<Segment> cut;
  for (const text::WordSpan& piece : pieces) {
    Segment part{words[piece.first].start, words[piece.last].end, "", std::nullopt};
    for (std::size_t i = piece.first; i <= piece.last; ++i) part.text += " " + words[i].text;
    if (segment.words) {
      part.words.emplace(segment.words->begin() + static_cast<std::ptrdiff_t>(piece.first),
                         segment.words->begin() + static_cast<std::ptrdiff_t>(piece.last) + 1);
    }
    cut.push_back(std::move(part));
  }
  return cut;
}

}  // namespace

std::vector<text::CueWord> cueWordsOf(const Segment& segment) {
  if (!segment.words || segment.words->empty()) return spreadWords(segment);
  std::vector<text::CueWord> words;
  for (const Word& word : *segment.words) words.push_back({word.word, word.start, word.end, false});
  return words;
}

std::vector<text::CueWord> cueWordsOf(const std::vector<Segment>& segments) {
  std::vector<text::CueWord> words;
  for (const Segment& segment : segments) {
    std::vector<text::CueWord> own = cueWordsOf(segment);
    if (own.empty()) continue;
    own.back().endsSegment = true;
    words.insert(words.end(), own.begin(), own.end());
  }
  return words;
}

std::vector<Segment> limitSegmentLength(std::vector<Segment> segments, double maxSeconds) {
  std::vector<Segment> limited;
  for (Segment& segment : segments) {
    if (!(segment.end - segment.start > maxSeconds)) {
      limited.push_back(std::move(segment));
      continue;
    }
    for (Segment& part : cutSegment(segment, maxSeconds)) limited.push_back(std::move(part));
  }
  return limited;
}

}  // namespace tolva
