// listen on the microphone: the shipped binary against a private PulseAudio
// daemon whose default source is a FIFO the test speaks into.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "support/librivox_clips.hpp"
#include "support/listen_process.hpp"
#include "support/pulse_daemon.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

const std::string micStart = R"({"cmd":"start","locale":"en-US"})";
const std::string micName = "fakemic";

auto withCode(const std::string& code) {
  return [code](const Json& event) { return event.value("code", "") == code; };
}

class ListenMic : public testing::Test {
 protected:
  void startDaemon() {
    daemon = std::make_unique<PulseDaemon>();
    mic = daemon->addMicrophone(micName);
  }

  ListenProcess& launch(std::map<std::string, std::string> env) {
    env["XDG_DATA_HOME"] = (dir.path() / "data").string();
    listen = std::make_unique<ListenProcess>(TOLVA_BINARY, env);
    EXPECT_TRUE(listen->awaitEvent("ready").is_object());
    return *listen;
  }

  // Starts a microphone session and waits until it captures.
  void startCapturing(std::int64_t session) {
    listen->send(micStart);
    Json started = listen->awaitEvent("session-started");
    ASSERT_TRUE(started.is_object());
    EXPECT_EQ(started.value("session", -1), session);
    EXPECT_EQ(started.value("mode", ""), "mic");
    EXPECT_EQ(started.value("analyzerFormat", ""), "16000Hz ch=1");
    Json capture = listen->awaitEvent("capture-started");
    ASSERT_TRUE(capture.is_object());
    EXPECT_EQ(capture.value("session", -1), session);
    EXPECT_EQ(capture.value("source", ""), "mic");
  }

  void expectCountsMatchEvents(std::int64_t session, const Json& ended) {
    auto finals = listen->sessionEvents(session, "final");
    EXPECT_EQ(ended.value("volatileCount", -1),
              static_cast<std::int64_t>(listen->sessionEvents(session, "volatile").size()));
    EXPECT_EQ(ended.value("finalCount", -1),
              std::count_if(finals.begin(), finals.end(), [](const Json& f) { return !f.contains("empty"); }));
  }

  // A session that failed: "session-failed" with its number, then its
  // `session-ended` with zero counts and `failed`; it never captured.
  void expectFailedSession(std::int64_t session) {
    Json failure = listen->awaitEvent("error", 30s, withCode("session-failed"));
    ASSERT_TRUE(failure.is_object());
    EXPECT_EQ(failure.value("session", -1), session);
    EXPECT_FALSE(failure.value("message", "").empty());
    Json ended = listen->awaitEvent("session-ended", 30s);
    ASSERT_TRUE(ended.is_object());
    EXPECT_EQ(ended.value("session", -1), session);
    EXPECT_EQ(ended.value("failed", false), true);
    EXPECT_EQ(ended.value("volatileCount", -1), 0);
    EXPECT_EQ(ended.value("finalCount", -1), 0);
    EXPECT_EQ(ended.value("firstVolatileMs", 0), -1);
    EXPECT_EQ(ended.value("audioFedMs", -1), 0);
    EXPECT_TRUE(listen->sessionEvents(session, "capture-started").empty());
  }

  TempDir dir;
  std::unique_ptr<PulseDaemon> daemon;
  int mic = -1;
  std::unique_ptr<ListenProcess> listen;  // declared last: the child goes before its daemon
};

TEST_F(ListenMic, SpeechIntoTheMicrophoneIsTranscribed) {
  startDaemon();
  launch(daemon->env());
  startCapturing(1);

  const std::string clip = "0880";
  auto samples = librivoxSamples(clip);
  samples.resize(samples.size() + 16000 * 3 / 2);  // 1.5 s of silence after the speech
  daemon->speak(micName, samples);
  // The utterance end may already give a final; the stop finalizes in any case.
  listen->pollEvent("final", 20s);
  listen->send(R"({"cmd":"stop"})");
  Json ended = listen->awaitEvent("session-ended", 30s);
  ASSERT_TRUE(ended.is_object());
  EXPECT_FALSE(ended.contains("failed")) << ended;

  auto volatiles = listen->sessionEvents(1, "volatile");
  ASSERT_FALSE(volatiles.empty());
  EXPECT_EQ(ended.value("firstVolatileMs", -2), volatiles.front().value("sessionMs", -1));
  std::string heard;
  for (const auto& final : listen->sessionEvents(1, "final")) {
    EXPECT_FALSE(final.contains("empty")) << final;
    heard += final.value("text", "") + " ";
  }
  auto reference = librivoxReference(clip);
  EXPECT_GE(sharedWords(reference, wordsOf(heard)), reference.size() / 3) << heard;
  // The source hands audio on in fragments, so the tail of what was written
  // may never reach the analyzer: a generous band around the written length.
  double writtenMs = samples.size() / 16.0;
  EXPECT_NEAR(ended.value("audioFedMs", 0), writtenMs, 0.4 * writtenMs);
  expectCountsMatchEvents(1, ended);
  quitAndExpectCleanExit(*listen, 1);
}

TEST_F(ListenMic, StopBeforeAnyAudioReportsThatNothingWasCaptured) {
  startDaemon();
  launch(daemon->env());
  startCapturing(1);

  listen->send(R"({"cmd":"stop"})");  // nothing is written: the source delivers nothing
  Json error = listen->awaitEvent("error", 30s, withCode("no-audio-captured"));
  ASSERT_TRUE(error.is_object());
  EXPECT_EQ(error.value("session", -1), 1);
  Json closing = listen->awaitEvent("final", 10s);
  ASSERT_TRUE(closing.is_object());
  EXPECT_EQ(closing.value("empty", false), true);
  EXPECT_EQ(closing.value("text", "?"), "");
  Json ended = listen->awaitEvent("session-ended", 10s);
  ASSERT_TRUE(ended.is_object());
  EXPECT_EQ(ended.value("audioFedMs", -1), 0);
  EXPECT_EQ(ended.value("volatileCount", -1), 0);
  EXPECT_EQ(ended.value("finalCount", -1), 0);
  EXPECT_EQ(ended.value("firstVolatileMs", 0), -1);
  EXPECT_FALSE(ended.contains("failed")) << ended;
  quitAndExpectCleanExit(*listen, 1);
}

// The index of the daemon's module `name`, from `pactl list short modules`.
int moduleIndex(const PulseDaemon& daemon, const std::string& name) {
  std::istringstream modules(daemon.pactl({"list", "short", "modules"}));
  for (std::string line; std::getline(modules, line);) {
    std::istringstream fields(line);
    int index = -1;
    std::string module;
    if (fields >> index >> module && module == name) return index;
  }
  throw std::runtime_error("no module " + name);
}

TEST_F(ListenMic, LosingTheDeviceHaltsTheSessionAndTheServiceGoesOn) {
  startDaemon();
  // The null sink's monitor would become the default source once the
  // microphone is gone; without it, no source is left at all.
  daemon->removeModule(moduleIndex(*daemon, "module-null-sink"));
  launch(daemon->env());
  startCapturing(1);
  // Spoken at about real time, like a microphone: with no backlog of audio
  // to decode, the session's finalize stays within its bound on a loaded
  // machine, and the halt is the only thing out of the ordinary.
  auto samples = librivoxSamples("0880");
  samples.resize(16000 * 2);
  for (std::size_t at = 0; at < samples.size(); at += 4000) {
    daemon->speak(micName, {samples.begin() + at, samples.begin() + at + 4000});
    std::this_thread::sleep_for(250ms);
  }
  ASSERT_TRUE(listen->awaitEvent("volatile", 60s).is_object());  // audio is flowing

  auto unloading = ListenProcess::Clock::now();
  daemon->removeModule(mic);
  Json halted = listen->awaitEvent("error", 30s, withCode("capture-halted"));
  ASSERT_TRUE(halted.is_object());
  // The target is 500 ms; three seconds leave room for a loaded 2-core machine.
  EXPECT_LE(listen->lastArrival() - unloading, 3s);
  EXPECT_EQ(halted.value("session", -1), 1);
  Json ended = listen->awaitEvent("session-ended", 30s);
  ASSERT_TRUE(ended.is_object());
  EXPECT_EQ(ended.value("session", -1), 1);
  EXPECT_FALSE(ended.contains("failed")) << ended;
  EXPECT_GT(ended.value("audioFedMs", 0), 0);
  EXPECT_LE(ended.value("audioFedMs", 0), samples.size() / 16);  // never more than was spoken
  EXPECT_FALSE(listen->sessionEvents(1, "final").empty());
  expectCountsMatchEvents(1, ended);

  // The halt ended the session: a stop finds nothing to stop.
  listen->send(R"({"cmd":"stop"})");
  Json noSession = listen->awaitEvent("error", 10s, withCode("no-session"));
  ASSERT_TRUE(noSession.is_object());
  EXPECT_FALSE(noSession.contains("session"));

  // The next start is served, and fails cleanly for want of a source.
  listen->send(micStart);
  expectFailedSession(2);
  quitAndExpectCleanExit(*listen, 2);
}

TEST_F(ListenMic, AbsentSoundServerFailsTheSessionAndTheServiceGoesOn) {
  std::string d = dir.path().string();
  launch({{"HOME", d},
          {"XDG_RUNTIME_DIR", d},
          {"XDG_CONFIG_HOME", d},
          {"PULSE_RUNTIME_PATH", d},
          {"PULSE_STATE_PATH", d},
          {"PULSE_SERVER", "unix:" + d + "/no-such-socket"}});
  listen->send(micStart);
  expectFailedSession(1);
  listen->send(micStart);
  expectFailedSession(2);
  quitAndExpectCleanExit(*listen, 2);
}

}  // namespace
}  // namespace tolva::test
