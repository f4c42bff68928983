// The audio options of `start` through the test executable: a capture source
// by name, a stream the client feeds, the refusals of unusable options, and
// the events of the sources that were there before, which keep their fields.
#include <gtest/gtest.h>

#include <set>

#include "support/listen_session.hpp"

namespace tolva::test {
namespace {

using namespace std::chrono_literals;

const Json baseScenario = {
    {"installedLocales", {"de_DE"}},
    {"files", {{"a.wav", {{"length", 1600}}}}},
    {"capture",
     {{"intervalMs", 20},
      {"bufferFrames", 960},
      {"sources", Json::array({{{"name", "built-in"}, {"sampleRate", 48000}, {"channels", 1}, {"default", true}},
                               {{"name", "usb-mic"}, {"sampleRate", 16000}, {"channels", 2}}})}}},
    {"streams",
     {{"short.fifo", {{"length", 8000}, {"framesPerRead", 320}}},
      {"endless.fifo", {{"length", -1}, {"framesPerRead", 320}, {"intervalMs", 20}}},
      {"raw.fifo",
       {{"length", 4800},
        {"sampleRate", 48000},
        {"expectRaw", {{"format", "f32le"}, {"rate", 48000}, {"channels", 1}}}}},
      {"noise.fifo", {{"decodeError", "cannot decode the audio stream: Invalid data found when processing input"}}}}}};

std::set<std::string> keysOf(const Json& event) {
  std::set<std::string> keys;
  for (const auto& [key, value] : event.items()) keys.insert(key);
  return keys;
}

Json start(Json extra) {
  Json command = {{"cmd", "start"}, {"locale", "de-DE"}};
  if (extra.is_object()) command.update(extra);  // {} reads as null
  return command;
}

class ListenSources : public testing::Test {
 protected:
  ListenSession session{baseScenario.dump()};

  void SetUp() override { ASSERT_FALSE(session.awaitEvent("ready").is_null()); }

  Json runToEnd(const Json& command, bool stop) {
    session.send(command.dump());
    EXPECT_FALSE(session.awaitEvent("capture-started").is_null());
    if (stop) session.send(R"({"cmd":"stop"})");
    return session.awaitEvent("session-ended");
  }
};

TEST_F(ListenSources, ANamedDeviceIsRecordedFrom) {
  Json ended = runToEnd(start({{"device", "usb-mic"}}), true);
  EXPECT_EQ(ended.value("failed", false), false);
  EXPECT_EQ(session.sessionEvents(1, "session-started").at(0)["mode"], "mic");
}

TEST_F(ListenSources, AnUnknownDeviceFailsTheSessionNamingIt) {
  session.send(start({{"device", "no-such-mic"}}).dump());
  Json failure = session.awaitEvent("error");
  EXPECT_EQ(failure["code"], "session-failed");
  EXPECT_EQ(failure["session"], 1);
  EXPECT_EQ(failure["message"],
            "the sound server has no capture source named 'no-such-mic'; `tolva-speech devices` lists the sources");
  EXPECT_EQ(session.awaitEvent("session-ended")["failed"], true);
  EXPECT_TRUE(session.sessionEvents(1, "capture-started").empty());
  session.send(start({}).dump());  // the default source still works
  EXPECT_EQ(session.awaitEvent("capture-started")["session"], 2);
}

TEST_F(ListenSources, AStreamIsFedWithoutPacingAndEndsWithItsData) {
  Json ended = runToEnd(start({{"stream", "/run/app/short.fifo"}}), false);
  EXPECT_EQ(session.sessionEvents(1, "session-started").at(0)["mode"], "stream");
  EXPECT_EQ(session.sessionEvents(1, "capture-started").at(0)["source"], "stream");
  EXPECT_EQ(ended["audioFedMs"], 500);
  EXPECT_EQ(ended.value("failed", false), false);
  EXPECT_LT(ended["sessionMs"].get<std::int64_t>(), 500) << "a stream is read as it arrives, not paced";
}

TEST_F(ListenSources, AStopEndsAStreamThatHasNoEnd) {
  Json ended = runToEnd(start({{"stream", "endless.fifo"}}), true);
  EXPECT_EQ(ended.value("failed", false), false);
  EXPECT_GE(ended["audioFedMs"].get<std::int64_t>(), 0);
}

TEST_F(ListenSources, RawPcmReachesTheStreamWithItsLayout) {
  Json ended = runToEnd(start({{"stream", "raw.fifo"}, {"format", "f32le"}, {"rate", 48000}, {"channels", 1}}), false);
  EXPECT_EQ(ended.value("failed", false), false);
  EXPECT_EQ(ended["audioFedMs"], 100);
}

TEST_F(ListenSources, StreamsThatCannotBeReadFailTheSession) {
  const std::pair<std::string, std::string> cases[] = {
      {"missing.fifo", "no scripted audio stream named 'missing.fifo'"},
      {"noise.fifo", "cannot decode the audio stream: Invalid data found when processing input"},
  };
  std::int64_t number = 0;
  for (const auto& [path, message] : cases) {
    ++number;
    session.send(start({{"stream", path}}).dump());
    Json failure = session.awaitEvent("error");
    EXPECT_EQ(failure["code"], "session-failed");
    EXPECT_EQ(failure["message"], message);
    EXPECT_EQ(failure["session"], number);
    EXPECT_EQ(session.awaitEvent("session-ended")["failed"], true);
  }
}

TEST_F(ListenSources, UnusableAudioOptionsAreRefusedAsBadCommands) {
  const std::string rawNeeds = "a raw `format` needs a `rate` from 1 to 768000 and `channels` from 1 to 64";
  const std::pair<Json, std::string> cases[] = {
      {start({{"stream", "a.fifo"}, {"replay", "a.wav"}}), "`start` takes either `replay` or `stream`, not both"},
      {start({{"stream", "a.fifo"}, {"format", "wav"}}), "`format` must be s16le or f32le"},
      {start({{"stream", "a.fifo"}, {"format", 16}}), "`format` must be s16le or f32le"},
      {start({{"stream", "a.fifo"}, {"format", "s16le"}}), rawNeeds},
      {start({{"stream", "a.fifo"}, {"format", "s16le"}, {"rate", 0}, {"channels", 1}}), rawNeeds},
      {start({{"stream", "a.fifo"}, {"format", "s16le"}, {"rate", 16000.5}, {"channels", 1}}), rawNeeds},
      {start({{"stream", "a.fifo"}, {"format", "f32le"}, {"rate", 16000}, {"channels", 65}}), rawNeeds},
      {start({{"stream", "a.fifo"}, {"format", "f32le"}, {"rate", 800000}, {"channels", 1}}), rawNeeds},
  };
  for (const auto& [command, message] : cases) {
    session.send(command.dump());
    Json refusal = session.awaitEvent("error");
    EXPECT_EQ(refusal["code"], "bad-command") << command;
    EXPECT_EQ(refusal["message"], message) << command;
    EXPECT_FALSE(refusal.contains("session"));
  }
  // Nothing was started: a good start gets session 1.
  session.send(start({{"stream", "short.fifo"}}).dump());
  EXPECT_EQ(session.awaitEvent("session-started")["session"], 1);
}

TEST_F(ListenSources, OptionsOfAnotherTypeReadAsAbsent) {
  // A stream or device that is not a string is left out, as `replay` is; a
  // format without a stream is not looked at.
  Json ended = runToEnd(start({{"stream", 5}, {"device", false}, {"format", "mp3"}}), true);
  EXPECT_EQ(session.sessionEvents(1, "session-started").at(0)["mode"], "mic");
  EXPECT_EQ(ended.value("failed", false), false);
}

TEST_F(ListenSources, WithoutTheNewOptionsEventsKeepTheirFields) {
  runToEnd(start({{"replay", "a.wav"}, {"chunkMs", 10}}), false);
  runToEnd(start({}), true);
  using Keys = std::set<std::string>;
  const Keys envelope{"event", "seq", "tMs"};
  auto with = [&](Keys keys) {
    keys.insert(envelope.begin(), envelope.end());
    return keys;
  };
  for (std::int64_t number : {1, 2}) {
    EXPECT_EQ(keysOf(session.sessionEvents(number, "session-started").at(0)),
              with({"session", "locale", "mode", "analyzerFormat"}));
    EXPECT_EQ(keysOf(session.sessionEvents(number, "capture-started").at(0)), with({"session", "source"}));
    EXPECT_EQ(keysOf(session.sessionEvents(number, "session-ended").at(0)),
              with({"session", "sessionMs", "volatileCount", "finalCount", "firstVolatileMs", "audioFedMs"}));
  }
  EXPECT_EQ(session.sessionEvents(1, "session-started").at(0)["mode"], "replay");
  EXPECT_EQ(session.sessionEvents(1, "capture-started").at(0)["source"], "replay");
  EXPECT_EQ(session.sessionEvents(2, "session-started").at(0)["mode"], "mic");
  EXPECT_EQ(session.sessionEvents(2, "capture-started").at(0)["source"], "mic");
}

}  // namespace
}  // namespace tolva::test
