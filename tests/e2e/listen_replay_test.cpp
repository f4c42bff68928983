// listen on the real engine: dictation sessions that replay librivox clips
// through the shipped binary, paced like live audio.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "support/librivox_clips.hpp"
#include "support/listen_process.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;

// A clip's length in milliseconds (16 kHz).
double clipMs(const std::string& number) { return librivoxSamples(number).size() / 16.0; }

std::string replayStart(const std::string& locale, const std::string& clip) {
  return Json{{"cmd", "start"}, {"locale", locale}, {"replay", librivoxClip(clip).string()}}.dump();
}

std::int64_t countWhere(const std::vector<Json>& events, const std::function<bool(const Json&)>& pick) {
  return std::count_if(events.begin(), events.end(), pick);
}

class ListenReplay : public testing::Test {
 protected:
  ListenProcess& launch() {
    listen = std::make_unique<ListenProcess>(
        TOLVA_BINARY, std::map<std::string, std::string>{{"XDG_DATA_HOME", (dir.path() / "data").string()}});
    Json ready = listen->awaitEvent("ready");
    EXPECT_EQ(ready.value("pid", -1), listen->pid());
    EXPECT_EQ(ready.value("protocol", 0), 1);
    return *listen;
  }

  // The session's closing counts match the results it streamed, and no
  // result of the session follows its `session-ended`.
  void expectCountsMatchEvents(std::int64_t session, const Json& ended) {
    auto volatiles = listen->sessionEvents(session, "volatile");
    auto finals = listen->sessionEvents(session, "final");
    EXPECT_EQ(ended.value("volatileCount", -1), static_cast<std::int64_t>(volatiles.size()));
    EXPECT_EQ(ended.value("finalCount", -1), countWhere(finals, [](const Json& f) { return !f.contains("empty"); }));
    const auto& events = listen->events();
    auto endedAt = std::find(events.begin(), events.end(), ended);
    ASSERT_NE(endedAt, events.end());
    for (auto it = endedAt + 1; it != events.end(); ++it) EXPECT_NE(it->value("session", -1), session) << *it;
  }

  // seq runs 1, 2, 3, … over every line of the process.
  void expectSeqWithoutGaps() {
    const auto& events = listen->events();
    for (std::size_t i = 0; i < events.size(); ++i)
      EXPECT_EQ(events[i].value("seq", -1), static_cast<std::int64_t>(i + 1));
  }

  TempDir dir;
  std::unique_ptr<ListenProcess> listen;
};

class ListenReplayLocale : public ListenReplay, public testing::WithParamInterface<std::string> {};

TEST_P(ListenReplayLocale, ClipStreamsResultsAndTheSessionEndsByItselfAfterTheFile) {
  const std::string clip = "0880";
  auto& listen = launch();
  listen.send(replayStart(GetParam(), clip));
  auto sent = ListenProcess::Clock::now();

  Json started = listen.awaitEvent("session-started");
  EXPECT_EQ(started.value("session", -1), 1);
  EXPECT_EQ(started.value("locale", ""), "en_US");
  EXPECT_EQ(started.value("mode", ""), "replay");
  EXPECT_EQ(started.value("analyzerFormat", ""), "16000Hz ch=1");
  Json capture = listen.awaitEvent("capture-started");
  EXPECT_EQ(capture.value("session", -1), 1);
  EXPECT_EQ(capture.value("source", ""), "replay");

  // Nothing is sent after the start: the end of the file ends the session.
  Json ended = listen.awaitEvent("session-ended", 60s);
  ASSERT_TRUE(ended.is_object());
  auto endedAt = listen.lastArrival();
  EXPECT_EQ(ended.value("session", -1), 1);
  EXPECT_FALSE(ended.contains("failed")) << ended;

  auto volatiles = listen.sessionEvents(1, "volatile");
  auto finals = listen.sessionEvents(1, "final");
  ASSERT_FALSE(volatiles.empty());
  ASSERT_FALSE(finals.empty());
  std::string heard;
  for (const auto& final : finals) {
    EXPECT_FALSE(final.contains("empty")) << final;
    heard += final.value("text", "") + " ";
  }
  EXPECT_GE(sharedWords(librivoxReference(clip), wordsOf(heard)), librivoxReference(clip).size() / 3) << heard;
  EXPECT_EQ(ended.value("firstVolatileMs", -2), volatiles.front().value("sessionMs", -1));
  expectCountsMatchEvents(1, ended);

  // The whole file is fed, paced near real time: the session cannot be much
  // shorter than the clip (a lower bound only; a loaded machine is slower).
  double lengthMs = clipMs(clip);
  EXPECT_NEAR(ended.value("audioFedMs", 0), lengthMs, 20);
  EXPECT_GE(ended.value("sessionMs", 0), 0.8 * lengthMs);
  std::chrono::duration<double, std::milli> wallMs = endedAt - sent;
  EXPECT_GE(wallMs.count(), 0.8 * lengthMs);

  quitAndExpectCleanExit(listen, 1, true);
  expectSeqWithoutGaps();
}

INSTANTIATE_TEST_SUITE_P(LocaleSpellings, ListenReplayLocale, testing::Values("en-US", " EN_us "),
                         [](const auto& info) { return info.index == 0 ? std::string("Tag") : std::string("Padded"); });

// A parent may hand over a path in the file system's own bytes, which need
// not be UTF-8: the file opens, and what the service writes stays UTF-8.
TEST_F(ListenReplay, AReplayPathThatIsNotUtf8StillOpens) {
  std::filesystem::path latin1 = dir.path() / "caf\xE9.wav";
  std::filesystem::copy_file(librivoxClip("0880"), latin1);
  auto& listen = launch();
  listen.send(R"({"cmd":"start","locale":"en-US","chunkMs":20,"replay":")" + latin1.string() + "\"}");
  ASSERT_TRUE(listen.awaitEvent("capture-started", 60s).is_object());
  Json ended = listen.awaitEvent("session-ended", 60s);
  ASSERT_TRUE(ended.is_object());
  // The file was read to its end (a loaded machine may still miss the
  // finalize bound, which is no matter here).
  EXPECT_NEAR(ended.value("audioFedMs", 0.0), clipMs("0880"), 100) << ended;
  for (const auto& event : listen.events()) EXPECT_NE(event.value("code", ""), "session-failed") << event;
  quitAndExpectCleanExit(listen, 1);
}

TEST_F(ListenReplay, StopMidSessionEndsItPromptly) {
  const std::string clip = "0870";  // about 7 s: the stop lands well before its end
  auto& listen = launch();
  listen.send(replayStart("en-US", clip));
  ASSERT_TRUE(listen.awaitEvent("volatile", 60s).is_object());

  listen.send(R"({"cmd":"stop"})");
  auto stopped = ListenProcess::Clock::now();
  Json ended = listen.awaitEvent("session-ended", 30s);
  ASSERT_TRUE(ended.is_object());
  auto endedAt = listen.lastArrival();
  // The target is one second; three leave room for a loaded 2-core machine.
  EXPECT_LE(endedAt - stopped, 3s);
  EXPECT_FALSE(ended.contains("failed")) << ended;
  EXPECT_GT(ended.value("audioFedMs", 0), 0);
  EXPECT_LT(ended.value("audioFedMs", 0), clipMs(clip) - 1000);
  EXPECT_FALSE(listen.sessionEvents(1, "final").empty());  // a result or the closing empty one
  expectCountsMatchEvents(1, ended);

  // The session is over: a second stop has nothing to stop.
  listen.send(R"({"cmd":"stop"})");
  EXPECT_TRUE(
      listen.awaitEvent("error", 10s, [](const Json& e) { return e.value("code", "") == "no-session"; }).is_object());
  quitAndExpectCleanExit(listen, 1);
  expectSeqWithoutGaps();
}

TEST_F(ListenReplay, SigtermMidSessionClosesTheSessionAndExitsCleanly) {
  auto& listen = launch();
  listen.send(replayStart("en-US", "0870"));
  ASSERT_TRUE(listen.awaitEvent("volatile", 60s).is_object());

  listen.signal(SIGTERM);
  Json ended = listen.awaitEvent("session-ended", 30s);
  ASSERT_TRUE(ended.is_object());
  EXPECT_EQ(ended.value("session", -1), 1);
  EXPECT_FALSE(ended.contains("failed")) << ended;
  expectCountsMatchEvents(1, ended);
  ASSERT_EQ(listen.waitExit(), 0) << listen.err();
  EXPECT_EQ(listen.events().back(), ended);  // nothing after the session's close
  auto logs = listen.logLines();
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back().value("event", ""), "listen.exit");
  EXPECT_EQ(logs.back().value("sessions", -1), 1);
  expectSeqWithoutGaps();
}

TEST_F(ListenReplay, SecondSessionOnTheSameLocaleWorksAndContinuesTheSeqSeries) {
  auto& listen = launch();
  listen.send(replayStart("en-US", "0880"));
  Json first = listen.awaitEvent("session-ended", 60s);
  ASSERT_TRUE(first.is_object());

  const std::string clip = "0930";
  listen.send(replayStart("en-US", clip));
  Json started = listen.awaitEvent("session-started");
  ASSERT_TRUE(started.is_object());
  EXPECT_EQ(started.value("session", -1), 2);
  EXPECT_EQ(started.value("locale", ""), "en_US");
  EXPECT_GT(started.value("seq", -1), first.value("seq", -1));
  EXPECT_GE(started.value("tMs", -1), first.value("tMs", -1));
  Json ended = listen.awaitEvent("session-ended", 60s);
  ASSERT_TRUE(ended.is_object());
  EXPECT_EQ(ended.value("session", -1), 2);
  EXPECT_FALSE(ended.contains("failed")) << ended;

  // The second session hears its own clip, with nothing left over from the first.
  auto volatiles = listen.sessionEvents(2, "volatile");
  auto finals = listen.sessionEvents(2, "final");
  ASSERT_FALSE(volatiles.empty());
  ASSERT_FALSE(finals.empty());
  std::string heard;
  for (const auto& final : finals) heard += final.value("text", "") + " ";
  EXPECT_GE(sharedWords(librivoxReference(clip), wordsOf(heard)), librivoxReference(clip).size() / 3) << heard;
  std::string before;
  for (const auto& final : listen.sessionEvents(1, "final")) before += final.value("text", "");
  ASSERT_FALSE(before.empty());
  for (const auto& result : volatiles) EXPECT_FALSE(result.value("text", "").starts_with(before)) << result;
  EXPECT_LT(ended.value("firstVolatileMs", -1), ended.value("sessionMs", -1));
  EXPECT_NEAR(ended.value("audioFedMs", 0), clipMs(clip), 20);
  expectCountsMatchEvents(2, ended);

  quitAndExpectCleanExit(listen, 2);
  expectSeqWithoutGaps();
}

}  // namespace
}  // namespace tolva::test
