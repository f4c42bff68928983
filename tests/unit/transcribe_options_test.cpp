#include "commands/transcribe_options.hpp"

#include <gtest/gtest.h>

namespace tolva {
namespace {

TEST(TranscribeOptions, ReadFromTheArguments) {
  using Args = std::vector<std::string>;
  struct Case {
    Args args;
    bool words;
    TranscriptFormat format;
    std::optional<double> maxSegment;
  };
  for (const Case& c : {
           Case{{"transcribe", "a.wav"}, false, TranscriptFormat::json, std::nullopt},
           Case{{"transcribe", "a.wav", "--words"}, true, TranscriptFormat::json, std::nullopt},
           Case{{"transcribe", "a.wav", "--format", "srt", "--format", "vtt"},
                false,
                TranscriptFormat::srt,
                std::nullopt},
           Case{{"transcribe", "a.wav", "--format", "txt", "--max-segment", "7.5"}, false, TranscriptFormat::txt, 7.5},
           Case{{"transcribe", "a.wav", "--max-segment", "10", "--words", "--format", "vtt"},
                true,
                TranscriptFormat::vtt,
                10},
       }) {
    auto parsed = parseTranscribeOptions(c.args);
    ASSERT_TRUE(std::holds_alternative<TranscribeOptions>(parsed)) << testing::PrintToString(c.args);
    const auto& options = std::get<TranscribeOptions>(parsed);
    EXPECT_EQ(options.words, c.words);
    EXPECT_EQ(options.format, c.format);
    EXPECT_EQ(options.maxSegmentSeconds, c.maxSegment);
  }
}

TEST(TranscribeOptions, WordTimingsAreAskedForOnlyWhenSomethingNeedsThem) {
  EXPECT_FALSE(TranscribeOptions{}.needsWordTimings());
  EXPECT_FALSE((TranscribeOptions{false, TranscriptFormat::txt, std::nullopt}.needsWordTimings()));
  EXPECT_TRUE((TranscribeOptions{true, TranscriptFormat::json, std::nullopt}.needsWordTimings()));
  EXPECT_TRUE((TranscribeOptions{false, TranscriptFormat::srt, std::nullopt}.needsWordTimings()));
  EXPECT_TRUE((TranscribeOptions{false, TranscriptFormat::json, 10.0}.needsWordTimings()));
}

TEST(TranscribeOptions, BadValuesAreUsageFailures) {
  using Args = std::vector<std::string>;
  for (const Args& args :
       {Args{"transcribe", "a.wav", "--format"}, Args{"transcribe", "a.wav", "--format", "SRT"},
        Args{"transcribe", "a.wav", "--max-segment"}, Args{"transcribe", "a.wav", "--max-segment", "0"},
        Args{"transcribe", "a.wav", "--max-segment", "10s"}, Args{"transcribe", "a.wav", "--max-segment", "inf"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(parseTranscribeOptions(args))) << testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace tolva
