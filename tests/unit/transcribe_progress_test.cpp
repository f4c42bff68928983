// Transcription progress: the values of a progress line and the frame count
// taken at the audio file seam.
#include "commands/transcribe_progress.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_platform.hpp"

namespace tolva {
namespace {

struct FieldsCase {
  const char* name;
  std::int64_t frames;
  double sampleRate;
  double durationSec;
  double audioSec;
  double fraction;
};

TEST(TranscribeProgress, FieldsFollowTheFramesRead) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const FieldsCase cases[] = {
      {"nothing read", 0, 16000, 2, 0, 0},    {"a quarter", 8000, 16000, 2, 0.5, 0.25},
      {"all of it", 32000, 16000, 2, 2, 1},   {"more than the reported length", 48000, 16000, 2, 3, 1},
      {"44.1 kHz", 44100, 44100, 4, 1, 0.25}, {"empty file", 0, 16000, 0, 0, 1},
      {"no sample rate", 100, 0, 0, 0, 1},    {"sample rate not a number", 100, nan, nan, 0, 1},
  };
  for (const auto& c : cases) {
    LogFields fields = transcribeProgressFields(c.frames, c.sampleRate, c.durationSec);
    ASSERT_EQ(fields.size(), 2u) << c.name;
    ASSERT_NE(fields["audioSec"].get<double>(), nullptr) << c.name << ": audioSec is a number of seconds";
    EXPECT_DOUBLE_EQ(*fields["audioSec"].get<double>(), c.audioSec) << c.name;
    EXPECT_DOUBLE_EQ(*fields["fraction"].get<double>(), c.fraction) << c.name;
  }
}

class FrameCounting : public testing::Test {
 protected:
  std::unique_ptr<AudioFile> open(scripted::FileScript script) {
    scenario.files["a.wav"] = script;
    platform = std::make_unique<scripted::ScriptedPlatform>(scenario);
    return platform->platform().audio.openFile("/tmp/a.wav");
  }

  scripted::Scenario scenario;
  std::unique_ptr<scripted::ScriptedPlatform> platform;
  std::shared_ptr<FramesRead> count = std::make_shared<FramesRead>();
};

TEST_F(FrameCounting, CountsWhatEachReadDelivers) {
  scripted::FileScript script;
  script.length = 10000;
  script.framesPerRead = 3000;
  auto file = open(script);
  FrameCountingFile counting(*file, count);
  EXPECT_EQ(counting.length(), 10000);
  EXPECT_EQ(counting.processingFormat(), file->processingFormat());

  PcmBuffer buffer = *PcmBuffer::make(counting.processingFormat(), 4096);
  std::vector<std::int64_t> seen;
  for (int i = 0; i < 5; ++i) {
    counting.read(buffer, 4096);
    seen.push_back(count->frames.load());
  }
  EXPECT_EQ(seen, (std::vector<std::int64_t>{3000, 6000, 9000, 10000, 10000}));
}

TEST_F(FrameCounting, AFailedReadCountsNothingAndPassesTheErrorOn) {
  scripted::FileScript script;
  script.length = 10000;
  script.readErrorAtFrame = 5000;
  script.readErrorMessage = "corrupt frame";
  auto file = open(script);
  FrameCountingFile counting(*file, count);
  PcmBuffer buffer = *PcmBuffer::make(counting.processingFormat(), 4096);
  counting.read(buffer, 4096);
  EXPECT_THROW(counting.read(buffer, 4096), PlatformError);
  EXPECT_EQ(count->frames.load(), 4096);
}

}  // namespace
}  // namespace tolva
