// Transcription progress: the values of a progress line.
#include "commands/transcribe_progress.hpp"

#include <gtest/gtest.h>

#include <limits>


namespace tolva {
namespace {

struct FieldsCase {
  const char* name;
  double analysed;
  double durationSec;
  double audioSec;
  double fraction;
};

TEST(TranscribeProgress, FieldsFollowTheAudioAnalysed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const FieldsCase cases[] = {
      {"nothing analysed", 0, 2, 0, 0},     {"a quarter", 0.5, 2, 0.5, 0.25},
      {"all of it", 2, 2, 2, 1},            {"more than the reported length", 3, 2, 3, 1},
      {"empty file", 0, 0, 0, 1},           {"no duration", 1, nan, 1, 1},
      {"seconds not a number", nan, 2, 0, 0}, {"negative seconds", -1, 2, 0, 0},
  };
  for (const auto& c : cases) {
    LogFields fields = transcribeProgressFields(c.analysed, c.durationSec);
    ASSERT_EQ(fields.size(), 2u) << c.name;
    ASSERT_NE(fields["audioSec"].get<double>(), nullptr) << c.name << ": audioSec is a number of seconds";
    EXPECT_DOUBLE_EQ(*fields["audioSec"].get<double>(), c.audioSec) << c.name;
    EXPECT_DOUBLE_EQ(*fields["fraction"].get<double>(), c.fraction) << c.name;
  }
}

}  // namespace
}  // namespace tolva
