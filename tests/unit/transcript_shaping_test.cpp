#include "commands/transcript_shaping.hpp"

#include <gtest/gtest.h>

#include "output/json_writer.hpp"

namespace tolva {
namespace {

Segment timed(const std::string& text, std::vector<Word> words) {
  return {words.front().start, words.back().end, text, std::move(words)};
}

TEST(TranscriptShaping, LongSegmentsAreCutShortOnesKept) {
  Segment shortOne = timed(" so it goes", {{"so", 0, 0.3, 0.9}, {"it", 0.3, 0.5, 0.9}, {"goes", 0.5, 1, 0.8}});
  Segment longOne = timed(" one two three four",
                          {{"one", 2, 4, 0.9}, {"two", 4.1, 6, 0.5}, {"three", 7, 9, 0.7}, {"four", 9, 11, 0.6}});
  std::vector<Segment> shaped = limitSegmentLength({shortOne, longOne}, 5);
  ASSERT_EQ(shaped.size(), 3u);
  EXPECT_EQ(shaped[0].text, " so it goes");
  EXPECT_EQ(shaped[1].text, " one two");
  EXPECT_EQ(shaped[1].start, 2);
  EXPECT_EQ(shaped[1].end, 6);
  EXPECT_EQ(shaped[2].text, " three four");
  EXPECT_EQ(shaped[2].words, (std::vector<Word>{{"three", 7, 9, 0.7}, {"four", 9, 11, 0.6}}));
}

TEST(TranscriptShaping, SegmentsWithoutWordsAreCutByTheirTextSpreadOverTime) {
  Segment plain{0, 20, " aaaa bbbb cccc dddd", std::nullopt};
  std::vector<text::CueWord> words = cueWordsOf(plain);
  ASSERT_EQ(words.size(), 4u);
  EXPECT_DOUBLE_EQ(words[0].start, 0);
  EXPECT_DOUBLE_EQ(words[0].end, 4);  // 4 of the 20 characters (a space after each)
  EXPECT_DOUBLE_EQ(words[1].start, 5);
  std::vector<Segment> shaped = limitSegmentLength({plain}, 10);
  ASSERT_EQ(shaped.size(), 2u);
  EXPECT_EQ(shaped[0].text, " aaaa bbbb");
  EXPECT_FALSE(shaped[0].words.has_value());
  EXPECT_TRUE(cueWordsOf(Segment{0, 1, "  ", std::nullopt}).empty());
}

TEST(TranscriptShaping, CueWordsMarkTheEndOfEachSegment) {
  std::vector<text::CueWord> words = cueWordsOf({timed(" a b", {{"a", 0, 1, 1}, {"b", 1, 2, 1}}),
                                                 Segment{2, 3, "", std::nullopt}, timed(" c", {{"c", 3, 4, 1}})});
  ASSERT_EQ(words.size(), 3u);
  EXPECT_FALSE(words[0].endsSegment);
  EXPECT_TRUE(words[1].endsSegment);
  EXPECT_TRUE(words[2].endsSegment);
}

TEST(TranscriptShaping, SegmentDocumentsCarryWordsOnlyWhenSet) {
  Segment segment{0.5, 1, " hi", std::nullopt};
  EXPECT_EQ(writeJsonCompact(toJson(segment)), "{\"end\":1,\"start\":0.5,\"text\":\" hi\"}");
  segment.words = std::vector<Word>{{"hi", 0.5, 1, 0.25}};
  EXPECT_EQ(writeJsonCompact(toJson(segment)),
            "{\"end\":1,\"start\":0.5,\"text\":\" hi\",\"words\":[{\"confidence\":0.25,\"end\":1,\"start\":0.5,"
            "\"word\":\"hi\"}]}");
}

}  // namespace
}  // namespace tolva
