#include "text/segment_cuts.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace tolva::text {
namespace {

// Words of 0.5 s, each followed by the pause given for it.
std::vector<CueWord> withPauses(const std::vector<double>& pauses) {
  std::vector<CueWord> words;
  double at = 0;
  for (std::size_t i = 0; i < pauses.size(); ++i) {
    words.push_back({"w" + std::to_string(i), at, at + 0.5, false});
    at += 0.5 + pauses[i];
  }
  return words;
}

TEST(SegmentCuts, ShortStretchesStayWhole) {
  EXPECT_EQ(cutAtPauses(withPauses({0, 0.3, 0}), 10), (std::vector<WordSpan>{{0, 2}}));
  EXPECT_TRUE(cutAtPauses({}, 10).empty());
}

TEST(SegmentCuts, TheLongestPauseIsCutFirst) {
  // 12 words over 7.05 s; the 0.6 s pause after word 2 is the longest.
  std::vector<CueWord> words = withPauses({0, 0.1, 0.6, 0, 0, 0.2, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(cutAtPauses(words, 5), (std::vector<WordSpan>{{0, 2}, {3, 11}}));
  // Still too long: the pieces are cut again.
  EXPECT_EQ(cutAtPauses(words, 2.5), (std::vector<WordSpan>{{0, 2}, {3, 5}, {6, 8}, {9, 11}}));
}

TEST(SegmentCuts, WithoutPausesAtAWordBoundary) {
  std::vector<CueWord> words = withPauses(std::vector<double>(20, 0));
  std::vector<WordSpan> pieces = cutAtPauses(words, 3);
  ASSERT_GE(pieces.size(), 4u);
  std::size_t next = 0;
  for (const WordSpan& piece : pieces) {
    EXPECT_EQ(piece.first, next);
    EXPECT_LE(words[piece.last].end - words[piece.first].start, 3);
    next = piece.last + 1;
  }
  EXPECT_EQ(next, words.size());
  // Where the text marks a phrase boundary near the middle, it is taken.
  words = withPauses(std::vector<double>(8, 0));
  words[2].text = "said,";
  EXPECT_EQ(cutAtPauses(words, 3), (std::vector<WordSpan>{{0, 2}, {3, 7}}));
}

TEST(SegmentCuts, AWordLongerThanTheLimitIsNeverCut) {
  std::vector<CueWord> words{{"aaa", 0, 1, false}, {"long", 1, 14, false}, {"b", 14, 15, false}};
  EXPECT_EQ(cutAtPauses(words, 10), (std::vector<WordSpan>{{0, 0}, {1, 1}, {2, 2}}));
  words[1].end = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(cutAtPauses(words, 10).empty());
}

}  // namespace
}  // namespace tolva::text
