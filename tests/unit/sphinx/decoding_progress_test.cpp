// The progress of a file analysis: decoded utterances count whole, those being
// decoded by the share of their expected time that has passed, at a speed
// measured on the file; the count never goes back.

#include "platform/sphinx/analysis/decoding_progress.hpp"

#include <gtest/gtest.h>

#include "platform/sphinx/decoder/decoder.hpp"

namespace tolva::sphinx {
namespace {

using Clock = DecodingProgress::Clock;

constexpr std::int64_t second = Decoder::sampleRate;

struct FakeClock {
  Clock::time_point now{};
  void at(double seconds) {
    now = Clock::time_point{} + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }
};

class DecodingProgressTest : public ::testing::Test {
 protected:
  FakeClock clock;
  DecodingProgress progress{[this] { return clock.now; }};
};

TEST_F(DecodingProgressTest, CountsUtterancesBeingDecodedSideBySide) {
  // Two 10 s utterances with a pause between them, decoded at once.
  progress.submitting(0, 10 * second);
  progress.submitting(12 * second, 10 * second);
  progress.settled(24 * second);
  progress.decodingBegins(0);
  progress.decodingBegins(12 * second);
  EXPECT_DOUBLE_EQ(progress.seconds(), 0);

  // At the prior speed each should take 2.5 s: after 1 s, 40% of each.
  clock.at(1);
  EXPECT_DOUBLE_EQ(progress.seconds(), 8);
  // Overdue: each counts at most 90% until its decoding ends.
  clock.at(2.9);
  EXPECT_DOUBLE_EQ(progress.seconds(), 18);

  // The first ends after 3 s, which sets the speed; the second is still capped.
  clock.at(3);
  progress.decodingEnds(0);
  EXPECT_DOUBLE_EQ(progress.seconds(), 19);
  // Delivering it counts the pause before the second as well.
  progress.delivered();
  EXPECT_DOUBLE_EQ(progress.seconds(), 21);

  // Decoded but not yet delivered counts whole; once delivered, all settled.
  progress.decodingEnds(12 * second);
  EXPECT_DOUBLE_EQ(progress.seconds(), 22);
  progress.delivered();
  EXPECT_DOUBLE_EQ(progress.seconds(), 24);
  progress.finished(25);
  EXPECT_DOUBLE_EQ(progress.seconds(), 25);
}

TEST_F(DecodingProgressTest, SpeedMeasuredOnTheFileReplacesThePrior) {
  progress.submitting(0, 10 * second);
  progress.submitting(10 * second, 10 * second);
  progress.settled(20 * second);
  progress.decodingBegins(0);
  clock.at(5);
  progress.decodingEnds(0);  // 0.5 s per second of audio, half the prior's speed
  progress.delivered();
  progress.decodingBegins(10 * second);
  clock.at(7.5);
  EXPECT_DOUBLE_EQ(progress.seconds(), 15);
}

TEST_F(DecodingProgressTest, NeverGoesBackNorPastTheSettledAudio) {
  progress.submitting(0, 10 * second);
  progress.submitting(10 * second, 40 * second);
  progress.settled(50 * second);
  progress.decodingBegins(0);
  clock.at(1.5);
  progress.decodingBegins(10 * second);
  clock.at(10);
  EXPECT_DOUBLE_EQ(progress.seconds(), 9 + 34);
  // The first took 10 s: the second now looks four times further from done.
  progress.decodingEnds(0);
  progress.delivered();
  EXPECT_DOUBLE_EQ(progress.seconds(), 43);

  // Nothing outstanding: only what the splitter has settled counts.
  DecodingProgress fresh([this] { return clock.now; });
  fresh.settled(3 * second);
  fresh.submitting(3 * second, 2 * second);
  fresh.decodingBegins(3 * second);
  clock.at(100);
  EXPECT_DOUBLE_EQ(fresh.seconds(), 3);
  fresh.settled(6 * second);
  EXPECT_DOUBLE_EQ(fresh.seconds(), 3 + 0.9 * 2);
}

}  // namespace
}  // namespace tolva::sphinx
