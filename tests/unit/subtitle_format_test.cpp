#include "text/subtitle_format.hpp"

#include <gtest/gtest.h>

namespace tolva::text {
namespace {

TEST(SubtitleFormat, Timestamps) {
  struct Case {
    std::int64_t ms;
    char separator;
    std::string text;
  };
  for (const Case& c :
       {Case{0, ',', "00:00:00,000"}, Case{1234, ',', "00:00:01,234"}, Case{3723004, '.', "01:02:03.004"},
        Case{360000000, '.', "100:00:00.000"}, Case{-5, ',', "00:00:00,000"}}) {
    EXPECT_EQ(subtitleTimestamp(c.ms, c.separator), c.text) << c.ms;
  }
}

const std::vector<Cue> cues{{500, 2250, {"hello there"}}, {3000, 9000, {"fish & chips", "<b>not a tag</b>"}}};

TEST(SubtitleFormat, SubRip) {
  EXPECT_EQ(srtText(cues),
            "1\n00:00:00,500 --> 00:00:02,250\nhello there\n\n"
            "2\n00:00:03,000 --> 00:00:09,000\nfish & chips\n<b>not a tag</b>\n\n");
  EXPECT_EQ(srtText({}), "");
}

TEST(SubtitleFormat, WebVtt) {
  EXPECT_EQ(vttText(cues),
            "WEBVTT\n\n"
            "00:00:00.500 --> 00:00:02.250\nhello there\n\n"
            "00:00:03.000 --> 00:00:09.000\nfish &amp; chips\n&lt;b&gt;not a tag&lt;/b&gt;\n\n");
  EXPECT_EQ(vttText({}), "WEBVTT\n\n");
}

}  // namespace
}  // namespace tolva::text
