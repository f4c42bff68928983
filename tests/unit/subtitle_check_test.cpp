// The strict reader the subtitle tests rely on must itself refuse what breaks
// the rules.
#include "support/subtitle_check.hpp"

#include <gtest/gtest.h>

namespace tolva::test {
namespace {

TEST(SubtitleCheck, GoodTextPasses) {
  SubtitleCheck srt =
      checkSrt("1\n00:00:00,500 --> 00:00:02,000\nhello\nthere\n\n2\n00:00:02,000 --> 00:00:09,000\nx\n\n");
  EXPECT_TRUE(srt.problems.empty()) << testing::PrintToString(srt.problems);
  ASSERT_EQ(srt.cues.size(), 2u);
  EXPECT_EQ(srt.cues[1].startMs, 2000);
  EXPECT_EQ(srt.cues[1].endMs, 9000);
  SubtitleCheck vtt = checkVtt("WEBVTT\n\n01:00:00.000 --> 01:00:01.000\nhi\n\n");
  EXPECT_TRUE(vtt.problems.empty()) << testing::PrintToString(vtt.problems);
  EXPECT_EQ(vtt.cues[0].startMs, 3600000);
  EXPECT_TRUE(checkSrt("").problems.empty());
}

TEST(SubtitleCheck, BrokenRulesAreFound) {
  const std::string longLine(43, 'a');
  for (const std::string& text : {
           std::string("2\n00:00:00,500 --> 00:00:02,000\nhi\n\n"),       // numbering
           std::string("1\n00:00:00.500 --> 00:00:02.000\nhi\n\n"),       // separator
           std::string("1\n00:00:02,000 --> 00:00:01,000\nhi\n\n"),       // order
           std::string("1\n00:00:00,000 --> 00:00:07,001\nhi\n\n"),       // duration
           std::string("1\n00:00:00,000 --> 00:00:01,000\na\nb\nc\n\n"),  // lines
           "1\n00:00:00,000 --> 00:00:01,000\n" + longLine + "\n\n",      // line length
           std::string("1\n00:00:00,000 --> 00:00:02,000\na\n\n2\n00:00:01,000 --> 00:00:03,000\nb\n\n"),  // overlap
           std::string("1\n00:00:00,000 --> 00:00:01,000\nhi\n"),                                          // no end
           std::string("1\n00:00:00,000 --> 00:00:01,000\n\n"),                                            // no text
       }) {
    EXPECT_FALSE(checkSrt(text).problems.empty()) << text;
  }
  EXPECT_FALSE(checkVtt("00:00:00.000 --> 00:00:01.000\nhi\n\n").problems.empty());
  EXPECT_FALSE(checkVtt("WEBVTT\n\n00:00:00,000 --> 00:00:01,000\nhi\n\n").problems.empty());
}

}  // namespace
}  // namespace tolva::test
