// CommandRouter and command-line parsing: lines in, error events and states out.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "live/protocol/command_router.hpp"
#include "support/listen_session.hpp"

namespace tolva {
namespace {

using namespace std::chrono_literals;
using test::CapturedEvents;

constexpr const char* notAnObject = "stdin line is not a JSON object with a `cmd` field";
constexpr const char* needsLocale = "`start` requires a `locale`";
constexpr const char* alreadyActive = "a dictation session is already running; send `stop` before starting another";
constexpr const char* noSession = "`stop` with no active dictation session";
constexpr const char* startLine = R"({"cmd":"start","locale":"de-DE","replay":"a.wav"})";

// ---- parsing ----

struct ParseCase {
  std::string line;
  std::optional<StartRequest> start;  // expected request, when the line is a start
};

class StartParsing : public testing::TestWithParam<ParseCase> {};

TEST_P(StartParsing, TakesLocaleReplayAndChunkMs) {
  auto parsed = parseCommandLine(GetParam().line);
  const auto* start = std::get_if<command::Start>(&parsed);
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->request, *GetParam().start);
}

StartRequest request(std::string locale, std::optional<std::string> replay, std::int64_t chunkMs) {
  StartRequest start;
  start.locale = std::move(locale);
  start.replayPath = std::move(replay);
  start.chunkMs = chunkMs;
  return start;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartParsing,
    testing::Values(
        ParseCase{R"({"cmd":"start","locale":"de-DE"})", request("de-DE", std::nullopt, 100)},
        ParseCase{" \t{\"cmd\":\"start\",\"locale\":\" EN_us \",\"x\":1}\r\n", request(" EN_us ", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":""})", request("", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","replay":"a.wav","chunkMs":20})", request("de-DE", "a.wav", 20)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","replay":5})", request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","replay":null})", request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":50.5})", request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":"50"})", request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":true})", request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":-5})", request("de-DE", std::nullopt, -5)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":0})", request("de-DE", std::nullopt, 0)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":50.0})", request("de-DE", std::nullopt, 50)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":2e1})", request("de-DE", std::nullopt, 20)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":9223372036854775807})",
                  request("de-DE", std::nullopt, INT64_MAX)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":-9223372036854775808})",
                  request("de-DE", std::nullopt, INT64_MIN)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":9223372036854775808})",
                  request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":1e30})", request("de-DE", std::nullopt, 100)},
        // Judged on the exact text: these doubles round to values in range.
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":-9223372036854775809})",
                  request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":-9223372036854775808.0})",
                  request("de-DE", std::nullopt, std::numeric_limits<std::int64_t>::min())},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":50.00000000000000001})",
                  request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":0.25e3})", request("de-DE", std::nullopt, 250)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":-0.0})", request("de-DE", std::nullopt, 0)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":1e99999999999999999999})",
                  request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":5e-99999999999999999999})",
                  request("de-DE", std::nullopt, 100)},
        // Beyond a double's range: out of range like any other, not a bad line.
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":1e400})", request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","chunkMs":-1e400,"x":[1e999]})",
                  request("de-DE", std::nullopt, 100)},
        ParseCase{R"({"cmd":"start","locale":"de-DE","replay":"1e400","chunkMs":{"a":1.5},"chunkMs":7.0})",
                  request("de-DE", "1e400", 7)},
        // Bytes that are not UTF-8: U+FFFD everywhere but in the replay path,
        // which keeps them to open the file.
        ParseCase{"{\"cmd\":\"start\",\"locale\":\"de\xFF\",\"replay\":\"caf\xE9\xC3\\u00e9.wav\"}",
                  request("de\uFFFD", "caf\xE9\xC3\u00e9.wav", 100)},
        ParseCase{"{\"cmd\":\"start\",\"locale\":\"de-DE\",\"x\":\"\xFF\",\"replay\":\"\xF4\x8F\xBE\x80\"}",
                  request("de-DE", "\xF4\x8F\xBE\x80", 100)}));

// ---- the router as a state machine ----

// A router driven into a given state, with a main loop thread where one waits.
class RouterRig {
 public:
  RouterRig() : router(*events.emitter()) {}

  void enter(RouterState state) {
    switch (state) {
      case RouterState::idleBusy:
        break;
      case RouterState::idleWaiting:
        startWaiting();
        break;
      case RouterState::startPending:
        router.handle(startLine);
        break;
      case RouterState::admitting:
        startWaiting();
        router.handle(startLine);
        ASSERT_TRUE(takeWaiter().has_value());
        break;
      case RouterState::running:
        enter(RouterState::admitting);
        router.attachSession(stop);
        break;
      case RouterState::stopping:
        enter(RouterState::running);
        router.handle(R"({"cmd":"stop"})");
        break;
    }
    ASSERT_EQ(router.state(), state);
  }

  void startWaiting() {
    waiter = std::async(std::launch::async, [this] { return router.waitForStart(); });
    for (int i = 0; i < 5000 && router.state() != RouterState::idleWaiting; ++i) std::this_thread::sleep_for(1ms);
  }

  std::optional<StartRequest> takeWaiter() {
    EXPECT_EQ(waiter.wait_for(10s), std::future_status::ready);
    return waiter.get();
  }

  // Whether the stop signal holds its tick and its end.
  bool stopFired() { return stop->isFinished() && stop->next().has_value(); }

  CapturedEvents events;
  CommandRouter router;
  std::shared_ptr<StopSignal> stop = StopSignal::make();
  std::future<std::optional<StartRequest>> waiter;
};

struct RouterCase {
  const char* name;
  RouterState from;
  std::string line;
  std::optional<std::pair<std::string, std::string>> error;  // code, message
  RouterState to;
};

class RouterTable : public testing::TestWithParam<RouterCase> {};

TEST_P(RouterTable, AnswersAndMoves) {
  const RouterCase& c = GetParam();
  RouterRig rig;
  rig.enter(c.from);
  rig.router.handle(c.line);
  EXPECT_EQ(rig.router.state(), c.to);
  auto events = rig.events.events();
  if (c.error) {
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["event"], "error");
    EXPECT_EQ(events[0]["code"], c.error->first);
    EXPECT_EQ(events[0]["message"], c.error->second);
    EXPECT_FALSE(events[0].contains("session"));
  } else {
    EXPECT_TRUE(events.empty()) << rig.events.text();
  }
  if (rig.waiter.valid() && c.to != RouterState::idleWaiting) rig.takeWaiter();
  if (c.to == RouterState::idleWaiting) rig.router.stdinClosed();  // release the waiting thread
}

using S = RouterState;
const auto badCommand = [](std::string message) { return std::make_pair(std::string("bad-command"), message); };

INSTANTIATE_TEST_SUITE_P(
    Table, RouterTable,
    testing::Values(RouterCase{"StopBeforeAnyStart", S::idleBusy, R"({"cmd":"stop"})",
                               std::pair{"no-session", noSession}, S::idleBusy},
                    RouterCase{"StopWhileWaiting", S::idleWaiting, R"({"cmd":"stop"})",
                               std::pair{"no-session", noSession}, S::idleWaiting},
                    RouterCase{"StartWhileBusy", S::idleBusy, startLine, std::nullopt, S::startPending},
                    RouterCase{"StartWhileWaiting", S::idleWaiting, startLine, std::nullopt, S::admitting},
                    RouterCase{"StartWhilePending", S::startPending, startLine,
                               std::pair{"session-already-active", alreadyActive}, S::startPending},
                    RouterCase{"StartWhileAdmitting", S::admitting, startLine,
                               std::pair{"session-already-active", alreadyActive}, S::admitting},
                    RouterCase{"StartWhileRunning", S::running, startLine,
                               std::pair{"session-already-active", alreadyActive}, S::running},
                    RouterCase{"StartWithoutLocaleWhileRunning", S::running, R"({"cmd":"start"})",
                               badCommand(needsLocale), S::running},
                    RouterCase{"StartWithNumberLocale", S::idleBusy, R"({"cmd":"start","locale":5})",
                               badCommand(needsLocale), S::idleBusy},
                    RouterCase{"StopWhileRunning", S::running, R"({"cmd":"stop"})", std::nullopt, S::stopping},
                    RouterCase{"StopWhileStopping", S::stopping, R"({"cmd":"stop"})", std::nullopt, S::stopping},
                    RouterCase{"StopWhileAdmitting", S::admitting, R"({"cmd":"stop"})", std::nullopt, S::admitting},
                    RouterCase{"QuitWhileRunning", S::running, R"({"cmd":"quit"})", std::nullopt, S::stopping},
                    RouterCase{"QuitWhileWaiting", S::idleWaiting, R"({"cmd":"quit"})", std::nullopt, S::idleBusy},
                    RouterCase{"SpacesOnly", S::idleBusy, "   \t ", std::nullopt, S::idleBusy},
                    RouterCase{"Empty", S::running, "", std::nullopt, S::running},
                    RouterCase{"Array", S::idleBusy, "[1,2]", badCommand(notAnObject), S::idleBusy},
                    RouterCase{"BareString", S::idleBusy, "\"start\"", badCommand(notAnObject), S::idleBusy},
                    RouterCase{"NumberCmd", S::idleBusy, R"({"cmd":5})", badCommand(notAnObject), S::idleBusy},
                    RouterCase{"HugeNumberCmd", S::idleBusy, R"({"cmd":1e400})", badCommand(notAnObject), S::idleBusy},
                    RouterCase{"HugeNumberWithLeadingZero", S::idleBusy, R"({"cmd":"stop","x":01e400})",
                               badCommand(notAnObject), S::idleBusy},
                    RouterCase{"NoCmd", S::running, R"({"locale":"de-DE"})", badCommand(notAnObject), S::running},
                    RouterCase{"NotJson", S::idleBusy, R"({"cmd":"start")", badCommand(notAnObject), S::idleBusy},
                    RouterCase{"CaseMatters", S::idleBusy, R"({"cmd":"Start","locale":"de-DE"})",
                               badCommand("unknown command 'Start'"), S::idleBusy},
                    RouterCase{"UnknownWhileRunning", S::running, R"({"cmd":"pause"})",
                               badCommand("unknown command 'pause'"), S::running}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandRouter, StopDuringAdmissionFiresTheSignalOnAttach) {
  RouterRig rig;
  rig.enter(RouterState::admitting);
  rig.router.handle(R"({"cmd":"stop"})");
  EXPECT_FALSE(rig.stopFired());
  rig.router.attachSession(rig.stop);
  EXPECT_TRUE(rig.stopFired());
  EXPECT_EQ(rig.router.state(), RouterState::stopping);
}

TEST(CommandRouter, StopTicksOnceAndEndsTheSignal) {
  RouterRig rig;
  rig.enter(RouterState::running);
  rig.router.handle(R"({"cmd":"stop"})");
  rig.router.handle(R"({"cmd":"stop"})");
  EXPECT_TRUE(rig.stopFired());
  EXPECT_EQ(rig.stop->next(), std::nullopt);  // one tick only
  rig.router.sessionFinished();
  rig.router.handle(R"({"cmd":"stop"})");  // the remembered second stop died with the session
  EXPECT_EQ(rig.events.names(), std::vector<std::string>{"error"});
}

TEST(CommandRouter, PendingStartIsNeverRunAfterQuit) {
  RouterRig rig;
  rig.enter(RouterState::startPending);
  rig.router.handle(R"({"cmd":"quit"})");
  EXPECT_TRUE(rig.router.shouldQuit());
  EXPECT_EQ(rig.router.waitForStart(), std::nullopt);
}

TEST(CommandRouter, PendingStartIsHandedOverWithoutWaiting) {
  RouterRig rig;
  rig.router.handle(R"({"cmd":"start","locale":"en-US","chunkMs":7})");
  EXPECT_EQ(rig.router.waitForStart(), request("en-US", std::nullopt, 7));
  EXPECT_EQ(rig.router.state(), RouterState::admitting);
}

TEST(CommandRouter, RejectedStartFreesTheRouter) {
  RouterRig rig;
  rig.enter(RouterState::admitting);
  rig.router.sessionFinished();
  rig.router.handle(startLine);
  EXPECT_EQ(rig.router.state(), RouterState::startPending);
  EXPECT_TRUE(rig.events.events().empty());
}

TEST(CommandRouter, EndOfInputAndSignalsActLikeQuit) {
  for (bool bySignal : {false, true}) {
    RouterRig rig;
    rig.enter(RouterState::running);
    bySignal ? rig.router.quitRequestedBySignal() : rig.router.stdinClosed();
    EXPECT_TRUE(rig.stopFired());
    EXPECT_TRUE(rig.router.shouldQuit());
    rig.router.sessionFinished();
    EXPECT_EQ(rig.router.waitForStart(), std::nullopt);
  }
}

TEST(CommandRouter, QuitReleasesTheWaitingMainLoop) {
  RouterRig rig;
  rig.enter(RouterState::idleWaiting);
  rig.router.stdinClosed();
  EXPECT_EQ(rig.takeWaiter(), std::nullopt);
}

TEST(CommandRouter, OversizedLineIsAnsweredAsMalformed) {
  RouterRig rig;
  rig.router.handleOversizedLine();
  auto events = rig.events.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["code"], "bad-command");
  EXPECT_EQ(events[0]["message"], notAnObject);
}

}  // namespace
}  // namespace tolva
