// LiveEventEmitter: envelope, seq order under concurrency, the text cap and
// the encode-failed fallback.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "locale/graphemes.hpp"
#include "support/listen_session.hpp"
#include "support/run_tool.hpp"

namespace tolva {
namespace {

using test::CapturedEvents;
using test::Json;

std::string repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(LiveEventEmitter, StampsTheEnvelopeOverTheCallersFields) {
  CapturedEvents captured;
  captured.emitter()->emit("ready", {{"pid", 7}, {"event", "forged"}, {"seq", 99}, {"tMs", -1}});
  captured.emitter()->emit("volatile", {{"session", 1}, {"text", "a/b \"c\""}});
  auto events = captured.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["event"], "ready");
  EXPECT_EQ(events[0]["seq"], 1);
  EXPECT_EQ(events[0]["pid"], 7);
  EXPECT_TRUE(events[0]["tMs"].is_number_integer());
  EXPECT_GE(events[0]["tMs"].get<std::int64_t>(), 0);
  EXPECT_EQ(events[1]["seq"], 2);
  EXPECT_EQ(events[1]["text"], "a/b \"c\"");
  EXPECT_EQ(events[1].size(), 5u);  // event, seq, tMs, session, text
}

TEST(LiveEventEmitter, SeqOrderIsOutputOrderAcrossThreads) {
  CapturedEvents captured;
  constexpr int threads = 6, perThread = 400;
  {
    std::vector<std::jthread> emitters;
    for (int t = 0; t < threads; ++t) {
      emitters.emplace_back([&, t] {
        for (int i = 0; i < perThread; ++i) captured.emitter()->emit("volatile", {{"session", t}, {"text", "x"}});
      });
    }
  }
  auto events = captured.events();
  ASSERT_EQ(events.size(), static_cast<std::size_t>(threads * perThread));
  for (std::size_t i = 0; i < events.size(); ++i) ASSERT_EQ(events[i]["seq"], static_cast<std::int64_t>(i + 1));
}

struct CapCase {
  const char* name;
  std::string text;
  std::string expected;
  bool truncated;
};

class LiveEventTextCap : public testing::TestWithParam<CapCase> {};

TEST_P(LiveEventTextCap, KeepsTheLast8192Characters) {
  const CapCase& c = GetParam();
  CapturedEvents captured;
  captured.emitter()->emit("final", {{"session", 1}, {"text", c.text}, {"sessionMs", 5}});
  auto event = captured.events().at(0);
  EXPECT_EQ(event["text"].get<std::string>(), c.expected);
  EXPECT_EQ(graphemeCount(event["text"].get<std::string>()), std::min<std::size_t>(graphemeCount(c.text), 8192));
  EXPECT_EQ(event.contains("truncated"), c.truncated);
  if (c.truncated) {
    EXPECT_EQ(event["truncated"], true);
  }
}

const std::string eAcute = "e\xCC\x81";                           // e + combining acute: one character
const std::string thumbsUp = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // thumbs up + skin tone: one character

INSTANTIATE_TEST_SUITE_P(
    Table, LiveEventTextCap,
    testing::Values(CapCase{"ascii8192", repeat("a", 8192), repeat("a", 8192), false},
                    CapCase{"ascii8193", "b" + repeat("a", 8192), repeat("a", 8192), true},
                    CapCase{"combining8192", repeat(eAcute, 8192), repeat(eAcute, 8192), false},
                    CapCase{"combining8193", "x" + repeat(eAcute, 8192), repeat(eAcute, 8192), true},
                    CapCase{"emoji8192", repeat(thumbsUp, 8192), repeat(thumbsUp, 8192), false},
                    CapCase{"emoji8193", thumbsUp + "z" + repeat(thumbsUp, 8191), "z" + repeat(thumbsUp, 8191), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LiveEventEmitter, LeavesATextThatIsNotAStringAlone) {
  CapturedEvents captured;
  captured.emitter()->emit("odd", {{"text", 12}});
  auto event = captured.events().at(0);
  EXPECT_EQ(event["text"], 12);
  EXPECT_FALSE(event.contains("truncated"));
}

TEST(LiveEventEmitter, UnencodableEventsBecomeTheFallbackLineAndKeepTheSeries) {
  CapturedEvents captured;
  captured.emitter()->emit("ready", {});
  captured.emitter()->emit("volatile", {{"level", std::nan("")}});
  captured.emitter()->emit("volatile", {{"level", std::numeric_limits<double>::infinity()}});
  captured.emitter()->emit("final", {{"text", "ok"}});
  auto text = captured.text();
  auto lines = test::lines(text);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], R"({"event":"error","code":"encode-failed","seq":2})");
  EXPECT_EQ(lines[2], R"({"event":"error","code":"encode-failed","seq":3})");
  EXPECT_EQ(Json::parse(lines[3])["seq"], 4);
}

TEST(LiveEventEmitter, BytesThatAreNotUtf8AreWrittenAsReplacementCharacters) {
  CapturedEvents captured;
  captured.emitter()->emit("final", {{"text", std::string("ab\xFF")}, {"path\xC3", "x\xE2\x82"}});
  auto events = captured.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["text"], "ab\uFFFD");
  EXPECT_EQ(events[0]["path\uFFFD"], "x\uFFFD");
}

TEST(LiveEventEmitter, ErrorsCarryASessionOnlyWhenGiven) {
  CapturedEvents captured;
  captured.emitter()->emitError("no-session", "`stop` with no active dictation session");
  captured.emitter()->emitError("capture-halted", "gone", 3);
  auto events = captured.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (Json{{"event", "error"},
                             {"seq", 1},
                             {"tMs", events[0]["tMs"]},
                             {"code", "no-session"},
                             {"message", "`stop` with no active dictation session"}}));
  EXPECT_EQ(events[1]["session"], 3);
  EXPECT_EQ(events[1]["code"], "capture-halted");
}

}  // namespace
}  // namespace tolva
