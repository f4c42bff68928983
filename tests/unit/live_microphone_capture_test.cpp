// MicrophoneCapture over a hand-driven capture engine: tap, fed counting,
// halt reports and stop.
#include <gtest/gtest.h>

#include <map>

#include "live/sources/microphone_capture.hpp"
#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_platform.hpp"

namespace tolva {
namespace {

const AudioFormat mic48k{48000, 1, CommonFormat::float32};
const AudioFormat analyzer16k{16000, 1, CommonFormat::float32};

// A capture engine the test drives by hand, recording the calls it gets.
struct ManualEngineState {
  CaptureEngine::TapBlock tap;
  std::uint32_t tapFrames = 0;
  AudioFormat tapFormat;
  bool running = false;
  bool failStart = false;
  bool haltOnStart = false;  // the device goes away while the engine starts
  std::map<int, CaptureEngine::ConfigurationObserver> observers;
  int removeTapCalls = 0, stopCalls = 0;
};

class ManualEngine final : public CaptureEngine {
 public:
  explicit ManualEngine(ManualEngineState& state) : s_(state) {}
  AudioFormat inputFormat() override { return mic48k; }
  void installTap(std::uint32_t frames, const AudioFormat& format, TapBlock tap) override {
    s_.tapFrames = frames;
    s_.tapFormat = format;
    s_.tap = std::move(tap);
  }
  void removeTap() override {
    ++s_.removeTapCalls;
    s_.tap = nullptr;
  }
  void prepare() override {}
  void start() override {
    if (s_.failStart) throw PlatformError("no input device");
    s_.running = !s_.haltOnStart;
    auto observers = s_.observers;
    if (s_.haltOnStart) {
      for (auto& [token, observer] : observers) observer();
    }
  }
  void stop() override {
    ++s_.stopCalls;
    s_.running = false;
  }
  bool isRunning() override { return s_.running; }
  int addConfigurationObserver(ConfigurationObserver observer) override {
    s_.observers[7] = std::move(observer);
    return 7;
  }
  void removeConfigurationObserver(int token) override { s_.observers.erase(token); }

 private:
  ManualEngineState& s_;
};

class MicrophoneCaptureTest : public testing::Test {
 protected:
  void SetUp() override {
    converter = AnalyzerFormatConverter::make(scripted.platform().audio, mic48k, analyzer16k);
    capture = std::make_unique<MicrophoneCapture>(std::make_unique<ManualEngine>(engine));
  }
  void start() {
    capture->start(converter, sink, [this] { ++halts; });
  }
  void deliver(std::uint32_t frames) {
    PcmBuffer buffer = *PcmBuffer::make(mic48k, frames);
    buffer.frameLength = frames;
    engine.tap(buffer);
  }
  void postChange() {
    auto observers = engine.observers;
    for (auto& [token, observer] : observers) observer();
  }
  std::size_t queued() {
    std::size_t count = 0;
    std::stop_source drained;
    drained.request_stop();
    while (input->next(drained.get_token())) ++count;
    return count;
  }

  scripted::ScriptedPlatform scripted{scripted::Scenario{}};
  ManualEngineState engine;
  std::shared_ptr<AnalyzerFormatConverter> converter;
  std::shared_ptr<AnalyzerInputChannel> input = AnalyzerInputChannel::make();
  std::shared_ptr<ContinuationBox> sink = std::make_shared<ContinuationBox>(input);
  std::unique_ptr<MicrophoneCapture> capture;
  int halts = 0;
};

TEST_F(MicrophoneCaptureTest, TapsFourKiloframeBuffersAndFeedsConvertedAudio) {
  start();
  EXPECT_EQ(engine.tapFrames, 4096u);
  EXPECT_EQ(engine.tapFormat, mic48k);
  EXPECT_TRUE(engine.running);
  deliver(4800);  // 100 ms at 48 kHz
  deliver(4800);
  EXPECT_EQ(queued(), 2u);
  capture->stop();
  EXPECT_DOUBLE_EQ(capture->fedTotal(), 200.0);  // counted at the analyzer's rate
}

TEST_F(MicrophoneCaptureTest, AudioConvertedAfterTheSinkWasDetachedStillCounts) {
  start();
  sink->detach();
  deliver(4800);
  EXPECT_EQ(queued(), 0u);
  EXPECT_DOUBLE_EQ(capture->fedTotal(), 100.0);
}

TEST_F(MicrophoneCaptureTest, ABufferThatDoesNotConvertAddsNothing) {
  scripted::Scenario silent;
  silent.converterOutputsNothing = true;
  scripted::ScriptedPlatform platform(silent);
  converter = AnalyzerFormatConverter::make(platform.platform().audio, mic48k, analyzer16k);
  start();
  deliver(4800);
  EXPECT_EQ(queued(), 0u);
  EXPECT_EQ(capture->fedTotal(), 0.0);
}

TEST_F(MicrophoneCaptureTest, AChangeTheGraphSurvivesIsNoHalt) {
  start();
  postChange();
  EXPECT_EQ(halts, 0);
}

TEST_F(MicrophoneCaptureTest, TwoChangesOnAStoppedGraphReportOneHalt) {
  start();
  engine.running = false;  // the device went away
  postChange();
  postChange();
  EXPECT_EQ(halts, 1);
  capture->stop();
  EXPECT_TRUE(engine.observers.empty());
  EXPECT_EQ(engine.removeTapCalls, 1);
  EXPECT_EQ(engine.stopCalls, 0);  // nothing left to stop
}

TEST_F(MicrophoneCaptureTest, AHaltWhileStartingIsReported) {
  engine.haltOnStart = true;
  start();
  EXPECT_EQ(halts, 1);
  postChange();
  EXPECT_EQ(halts, 1);
}

TEST_F(MicrophoneCaptureTest, NoHaltIsReportedAfterStop) {
  start();
  auto observers = engine.observers;
  capture->stop();
  for (auto& [token, observer] : observers) observer();  // a change already on its way
  EXPECT_EQ(halts, 0);
}

TEST_F(MicrophoneCaptureTest, StopTwiceDoesNothingTheSecondTime) {
  start();
  capture->stop();
  capture->stop();
  EXPECT_EQ(engine.removeTapCalls, 1);
  EXPECT_EQ(engine.stopCalls, 1);
  EXPECT_FALSE(engine.running);
}

TEST_F(MicrophoneCaptureTest, AFailedStartLeavesTheTapForStop) {
  engine.failStart = true;
  EXPECT_THROW(start(), PlatformError);
  EXPECT_TRUE(static_cast<bool>(engine.tap));
  EXPECT_TRUE(engine.observers.empty());
  capture->stop();
  EXPECT_FALSE(static_cast<bool>(engine.tap));
  EXPECT_EQ(engine.stopCalls, 0);
}

}  // namespace
}  // namespace tolva
