// runLiveSession in-process over the scripted platform: the events of one
// session, its counters, its bounds and its failures.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "live/session/live_session_error.hpp"
#include "live/session/live_session_runner.hpp"
#include "live/sources/replay_source.hpp"
#include "platform/platform_error.hpp"
#include "platform/scripted/scripted_platform.hpp"
#include "support/listen_session.hpp"

namespace tolva {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using scripted::Scenario;
using test::Json;

scripted::ResultScript result(std::string text, bool isFinal, int delayMs) {
  scripted::ResultScript r;
  r.text = std::move(text);
  r.isFinal = isFinal;
  r.delayMs = delayMs;
  return r;
}

Scenario withFile(std::int64_t length, double rate = 16000) {
  Scenario scenario;
  scenario.files["a.wav"].format = {rate, 1, CommonFormat::float32};
  scenario.files["a.wav"].length = length;
  return scenario;
}

struct SessionOutcome {
  std::optional<LiveSessionStats> stats;
  std::exception_ptr error;
  std::vector<Json> events;
  Clock::duration took{};

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : events)
      out.push_back(e["event"] == "error" ? "error:" + e["code"].get<std::string>() : e["event"].get<std::string>());
    return out;
  }
};

// Runs session 1 (de_DE). `stopAfter`: fire the stop that long after
// capture-started; nothing fires it otherwise.
class SessionRunnerTest : public testing::Test {
 protected:
  SessionOutcome run(const Scenario& scenario, const LiveAudioSource& source,
                     std::optional<std::chrono::milliseconds> stopAfter = std::nullopt) {
    scripted::ScriptedPlatform platform(scenario);
    auto stop = StopSignal::make();
    std::size_t earlier = captured.events().size();  // of a previous run in the same test
    std::jthread stopper;
    if (stopAfter) {
      stopper = std::jthread([&, stop, delay = *stopAfter](std::stop_token cancelled) {
        while (!cancelled.stop_requested() &&
               captured.text().find("capture-started", earlierBytes(earlier)) == std::string::npos) {
          std::this_thread::sleep_for(2ms);
        }
        std::this_thread::sleep_for(delay);
        if (!endWithoutTick) stop->yield(StopTick{});
        stop->finish();
      });
    }
    SessionOutcome outcome;
    auto begin = Clock::now();
    try {
      outcome.stats = runLiveSession({platform.platform(), captured.emitter()}, 1, Locale("de_DE"), source, stop);
    } catch (...) {
      outcome.error = std::current_exception();
    }
    outcome.took = Clock::now() - begin;
    auto events = captured.events();
    outcome.events.assign(events.begin() + static_cast<std::ptrdiff_t>(earlier), events.end());
    return outcome;
  }

  // Where the first `count` lines end.
  std::size_t earlierBytes(std::size_t count) {
    std::string text = captured.text();
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) at = text.find('\n', at) + 1;
    return at;
  }

  test::CapturedEvents captured;
  bool endWithoutTick = false;  // the stop signal just ends
};

const LiveAudioSource replay = LiveAudioSource::replay("/data/a.wav", 100);

TEST_F(SessionRunnerTest, AReplayPlaysToItsEndAndCountsEveryResult) {
  Scenario scenario = withFile(16000);
  scenario.bestAudioFormat = AudioFormat{8000, 1, CommonFormat::float32};
  scenario.analyzer.results = {result("hal", false, 100), result("hallo", true, 100)};
  SessionOutcome outcome = run(scenario, replay);
  ASSERT_TRUE(outcome.stats) << describe(outcome.error);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "volatile", "final"}));
  EXPECT_EQ(outcome.events[0]["locale"], "de_DE");
  EXPECT_EQ(outcome.events[0]["mode"], "replay");
  EXPECT_EQ(outcome.events[0]["analyzerFormat"], "8000Hz ch=1");
  EXPECT_EQ(outcome.events[1]["source"], "replay");
  EXPECT_EQ(outcome.events[2]["text"], "hal");
  EXPECT_GE(outcome.events[2]["sessionMs"].get<std::int64_t>(), 100);
  EXPECT_EQ(outcome.events[3]["text"], "hallo");
  EXPECT_EQ(outcome.stats->volatileCount, 1);
  EXPECT_EQ(outcome.stats->finalCount, 1);
  EXPECT_EQ(outcome.stats->firstVolatileMs, outcome.events[2]["sessionMs"].get<std::int64_t>());
  EXPECT_EQ(outcome.stats->audioFedMs, 1000.0);
  EXPECT_FALSE(outcome.stats->finalizeTimedOut);
  EXPECT_GE(outcome.took, 900ms);  // ten chunks, each followed by its 100 ms pause
}

// Results an analyzer delivers the moment it starts still come after
// session-started. Each round is a race: repeated so that it is lost often.
TEST_F(SessionRunnerTest, SessionStartedPrecedesResultsDeliveredAtOnce) {
  Scenario scenario = withFile(160);
  scenario.analyzer.results = {result("a", false, 0), result("a b", true, 0)};
  for (int round = 0; round < 100; ++round) {
    SessionOutcome outcome = run(scenario, LiveAudioSource::replay("a.wav", 10));
    ASSERT_TRUE(outcome.stats) << describe(outcome.error);
    ASSERT_FALSE(outcome.events.empty());
    ASSERT_EQ(outcome.events.front()["event"], "session-started") << "round " << round;
  }
}

TEST_F(SessionRunnerTest, TheLastChunkIsShorterAndOneFrameChunksNeedNoPause) {
  SessionOutcome paced = run(withFile(10000), replay);  // six chunks of 1600 frames and one of 400
  ASSERT_TRUE(paced.stats);
  EXPECT_EQ(paced.stats->audioFedMs, 625.0);
  for (std::int64_t chunkMs : {0, -5}) {
    SessionOutcome unpaced = run(withFile(800), LiveAudioSource::replay("a.wav", chunkMs));
    ASSERT_TRUE(unpaced.stats);
    EXPECT_EQ(unpaced.stats->audioFedMs, 50.0);
  }
}

TEST_F(SessionRunnerTest, AStopDuringAPauseEndsThePauseButNotAChunk) {
  // One chunk of a minute, then a pause of a minute, stopped after 300 ms.
  SessionOutcome outcome = run(withFile(16000 * 120), LiveAudioSource::replay("a.wav", 60000), 300ms);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.stats->audioFedMs, 60000.0);  // the chunk read before the pause was fed whole
  EXPECT_LT(outcome.took, 30s);
}

TEST_F(SessionRunnerTest, AStopSignalThatEndsWithoutATickStopsToo) {
  endWithoutTick = true;
  SessionOutcome replayed = run(withFile(1'600'000), replay, 50ms);
  ASSERT_TRUE(replayed.stats);
  EXPECT_LT(replayed.stats->audioFedMs, 100'000.0);
  Scenario microphone;
  microphone.capture.intervalMs = 20;
  SessionOutcome recorded = run(microphone, LiveAudioSource::mic(), 50ms);
  ASSERT_TRUE(recorded.stats);
  EXPECT_EQ(recorded.names(), (std::vector<std::string>{"session-started", "capture-started", "final"}));
}

TEST_F(SessionRunnerTest, AVolatileOnlySessionGetsTheClosingEmptyFinal) {
  Scenario scenario = withFile(3200);
  scenario.analyzer.results = {result("a", false, 50), result("", false, 10), result("a", false, 10)};
  SessionOutcome outcome = run(scenario, replay);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "volatile", "volatile",
                                                       "volatile", "final"}));
  const Json& closing = outcome.events.back();
  EXPECT_EQ(closing["text"], "");
  EXPECT_EQ(closing["empty"], true);
  EXPECT_EQ(closing["session"], 1);
  EXPECT_TRUE(closing["sessionMs"].is_number_integer());
  EXPECT_EQ(outcome.stats->volatileCount, 3);
  EXPECT_EQ(outcome.stats->finalCount, 0);
}

TEST_F(SessionRunnerTest, AFinalizeThatNeverCompletesIsForcedDownAfter2500Ms) {
  Scenario scenario = withFile(1600);
  scenario.analyzer.results = {result("eins", false, 10), result("eins", true, 10)};
  scenario.analyzer.finalizeHangs = true;
  SessionOutcome outcome = run(scenario, replay);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "volatile", "final",
                                                       "error:finalize-timeout"}));
  EXPECT_EQ(outcome.events.back()["message"], "the analyzer did not finish within 2500ms; forcing it down");
  EXPECT_EQ(outcome.events.back()["session"], 1);
  EXPECT_TRUE(outcome.stats->finalizeTimedOut);
  EXPECT_EQ(outcome.stats->volatileCount, 1);  // the real counts survive the timeout
  EXPECT_EQ(outcome.stats->finalCount, 1);
  EXPECT_GE(outcome.took, 2500ms);
}

TEST_F(SessionRunnerTest, AReplayThatFedNothingIsCancelledWithoutANoAudioError) {
  SessionOutcome outcome = run(withFile(0), replay);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "final"}));
  EXPECT_EQ(outcome.stats->audioFedMs, 0.0);
  EXPECT_FALSE(outcome.stats->finalizeTimedOut);
}

Scenario silentMicrophone() {
  Scenario scenario;
  scenario.capture.intervalMs = 600'000;  // no buffer arrives within a test
  return scenario;
}

TEST_F(SessionRunnerTest, AMicrophoneThatFedNothingReportsNoAudio) {
  SessionOutcome outcome = run(silentMicrophone(), LiveAudioSource::mic(), 50ms);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(),
            (std::vector<std::string>{"session-started", "capture-started", "error:no-audio-captured", "final"}));
  EXPECT_EQ(outcome.events[0]["mode"], "mic");
  EXPECT_EQ(outcome.events[1]["source"], "mic");
  EXPECT_EQ(outcome.events[2]["message"],
            "the microphone session fed no audio to the analyzer; the capture path delivered nothing");
  EXPECT_FALSE(outcome.stats->finalizeTimedOut);
}

TEST_F(SessionRunnerTest, ANoAudioCancelThatOverrunsNames1000Ms) {
  Scenario scenario = silentMicrophone();
  scenario.analyzer.cancelDelayMs = 1500;
  SessionOutcome outcome = run(scenario, LiveAudioSource::mic(), 50ms);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "error:finalize-timeout",
                                                       "error:no-audio-captured", "final"}));
  EXPECT_EQ(outcome.events[2]["message"], "the analyzer did not finish within 1000ms; forcing it down");
  EXPECT_TRUE(outcome.stats->finalizeTimedOut);
  EXPECT_GE(outcome.took, 1000ms);
}

TEST_F(SessionRunnerTest, AMicrophoneFeedsConvertedAudioUntilStopped) {
  Scenario scenario;
  scenario.capture.intervalMs = 20;  // 4096 frames at 48 kHz every 20 ms
  SessionOutcome outcome = run(scenario, LiveAudioSource::mic(), 300ms);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "final"}));
  // Whole buffers converted to 16 kHz: a multiple of 4096 / 3 frames, give or take a frame each.
  EXPECT_GT(outcome.stats->audioFedMs, 0.0);
  double buffers = outcome.stats->audioFedMs / (4096.0 / 48000.0 * 1000.0);
  EXPECT_NEAR(buffers, std::round(buffers), 0.01);
}

TEST_F(SessionRunnerTest, AHaltedCaptureIsReportedBeforeTheOtherClosingErrors) {
  Scenario halted;
  halted.capture.intervalMs = 20;
  halted.capture.haltAtMs = 200;
  halted.analyzer.finalizeHangs = true;
  SessionOutcome outcome = run(halted, LiveAudioSource::mic());  // no stop: the halt ends the feed
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "error:capture-halted",
                                                       "error:finalize-timeout", "final"}));
  EXPECT_EQ(outcome.events[2]["message"],
            "the audio graph stopped without a stop being requested; the capture device changed or became "
            "unavailable mid-session");
}

TEST_F(SessionRunnerTest, AHaltWithoutAudioComesBeforeTheNoAudioError) {
  Scenario haltedSilent = silentMicrophone();
  haltedSilent.capture.haltAtMs = 100;
  SessionOutcome outcome = run(haltedSilent, LiveAudioSource::mic());
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "error:capture-halted",
                                                       "error:no-audio-captured", "final"}));
}

TEST_F(SessionRunnerTest, ACaptureThatHaltsAsItStartsIsReported) {
  Scenario haltedAtOnce = silentMicrophone();
  haltedAtOnce.capture.haltAtMs = 0;
  SessionOutcome outcome = run(haltedAtOnce, LiveAudioSource::mic(), 3000ms);  // the stop only as a backstop
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "error:capture-halted",
                                                       "error:no-audio-captured", "final"}));
}

TEST_F(SessionRunnerTest, AResultsStreamErrorStillClosesNormally) {
  Scenario scenario = withFile(1600);
  scenario.analyzer.results = {result("x", true, 10)};
  scenario.analyzer.resultsError = "recognizer crashed";
  SessionOutcome outcome = run(scenario, replay);
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "final"}));
  EXPECT_EQ(outcome.stats->finalCount, 1);
  EXPECT_FALSE(outcome.stats->finalizeTimedOut);
}

struct FailureCase {
  const char* name;
  Scenario scenario;
  LiveAudioSource source;
  std::string description;
  std::optional<int> liveCode;  // for the runner's own errors
  std::vector<std::string> events;
};

class SessionFailures : public SessionRunnerTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(SessionFailures, ThrowWithoutClosingEvents) {
  const FailureCase& c = GetParam();
  SessionOutcome outcome = run(c.scenario, c.source);
  ASSERT_FALSE(outcome.stats);
  EXPECT_EQ(describe(outcome.error), c.description);
  try {
    std::rethrow_exception(outcome.error);
  } catch (const LiveSessionError& e) {
    EXPECT_EQ(c.liveCode, e.code());
    EXPECT_STREQ(e.domain(), "tolva-speech.listen");
  } catch (...) {
    EXPECT_FALSE(c.liveCode.has_value());
  }
  EXPECT_EQ(outcome.names(), c.events);
}

Scenario failing(void (*change)(Scenario&)) {
  Scenario scenario = withFile(16000);
  change(scenario);
  return scenario;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SessionFailures,
    testing::Values(FailureCase{"NoAnalyzerFormat",
                                failing([](Scenario& s) { s.bestAudioFormat.reset(); }),
                                replay,
                                "SpeechAnalyzer reported no bestAvailableAudioFormat",
                                1,
                                {}},
                    FailureCase{"AnalyzerStart",
                                failing([](Scenario& s) { s.analyzer.startError = "no decoder"; }),
                                replay,
                                "no decoder",
                                std::nullopt,
                                {}},
                    FailureCase{"ReplayConverter",
                                failing([](Scenario& s) { s.converterFails = true; }),
                                replay,
                                "AVAudioConverter init failed (replay)",
                                2,
                                {"session-started"}},
                    FailureCase{"MicConverter",
                                failing([](Scenario& s) { s.converterFails = true; }),
                                LiveAudioSource::mic(),
                                "AVAudioConverter init failed (microphone)",
                                2,
                                {"session-started"}},
                    FailureCase{"ReplayOpen",
                                failing([](Scenario& s) { s.files["a.wav"].openError = "unreadable"; }),
                                replay,
                                "unreadable",
                                std::nullopt,
                                {"session-started"}},
                    FailureCase{"MicDevice",
                                failing([](Scenario& s) { s.capture.formatError = "no input device"; }),
                                LiveAudioSource::mic(),
                                "no input device",
                                std::nullopt,
                                {"session-started"}},
                    FailureCase{"MicStart",
                                failing([](Scenario& s) { s.capture.startError = "device busy"; }),
                                LiveAudioSource::mic(),
                                "device busy",
                                std::nullopt,
                                {"session-started"}},
                    FailureCase{"ChunkBeyond32Bits",
                                withFile(16000, 48000),
                                LiveAudioSource::replay("a.wav", 100'000'000),
                                "replay chunkMs 100000000 needs more than 4294967295 frames per chunk at 48000Hz",
                                3,
                                {"session-started"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionRunnerTest, AFailedSessionLeavesNoThreadThatStillEmits) {
  Scenario scenario = withFile(16000);
  scenario.files["a.wav"].readErrorAtFrame = 3200;
  scenario.analyzer.results = {result("early", false, 50), result("late", true, 600)};
  SessionOutcome outcome = run(scenario, replay);
  ASSERT_FALSE(outcome.stats);
  EXPECT_EQ(describe(outcome.error), "scripted read error");
  std::this_thread::sleep_for(900ms);  // past the time the late result was due
  EXPECT_EQ(captured.names(), (std::vector<std::string>{"session-started", "capture-started", "volatile"}));
}

TEST_F(SessionRunnerTest, AFileShorterThanItsLengthEndsTheFeed) {
  Scenario scenario = withFile(16000);
  scenario.files["a.wav"].framesPerRead = 0;
  SessionOutcome outcome = run(scenario, replay);  // no stop is ever sent
  ASSERT_TRUE(outcome.stats);
  EXPECT_EQ(outcome.names(), (std::vector<std::string>{"session-started", "capture-started", "final"}));
  EXPECT_EQ(outcome.stats->audioFedMs, 0.0);
}

TEST(ReplayFramesPerChunk, IsRateTimesChunkAtLeastOneFrame) {
  EXPECT_EQ(replayFramesPerChunk(48000, 100), 4800u);
  EXPECT_EQ(replayFramesPerChunk(16000, 100), 1600u);
  EXPECT_EQ(replayFramesPerChunk(44100, 1), 44u);
  EXPECT_EQ(replayFramesPerChunk(16000, 0), 1u);
  EXPECT_EQ(replayFramesPerChunk(16000, -5), 1u);
  EXPECT_EQ(replayFramesPerChunk(16000, INT64_MIN), 1u);
  EXPECT_EQ(replayFramesPerChunk(48000, 89'478'485), 4294967280u);
  EXPECT_EQ(replayFramesPerChunk(48000, 89'478'486), std::nullopt);
  EXPECT_EQ(replayFramesPerChunk(48000, INT64_MAX), std::nullopt);
}

}  // namespace
}  // namespace tolva
