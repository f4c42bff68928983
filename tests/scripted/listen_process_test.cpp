// The listen process as a parent application sees it, for what a transcript
// cannot say: huge lines, bytes that are not UTF-8, a parent that stops
// reading, signals, and a quit racing a start.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>

#include "support/listen_session.hpp"
#include "support/run_tool.hpp"

namespace tolva::test {
namespace {

const std::string replayScenario =
    R"({"installedLocales":["de_DE"],"files":{"a.wav":{"length":1600},"long.wav":{"length":1600000}}})";

// Peak resident memory of a process, in KiB.
long peakRssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(ListenProcess, ALineOverAMebibyteIsRefusedWithoutBeingHeld) {
  ListenSession session(replayScenario);
  ASSERT_FALSE(session.awaitEvent("ready").is_null());
  long before = peakRssKiB(session.pid());
  std::string piece(1 << 20, 'x');
  session.sendRaw("{\"cmd\":\"");
  for (int i = 0; i < 128; ++i) session.sendRaw(piece);  // 128 MiB in one line
  session.send("\"}");
  session.send(R"({"cmd":"stop"})");
  Json refusal = session.awaitEvent("error");
  EXPECT_EQ(refusal["code"], "bad-command");
  EXPECT_EQ(refusal["message"], "stdin line is not a JSON object with a `cmd` field");
  EXPECT_EQ(session.awaitEvent("error")["code"], "no-session");  // the next line is read as usual
  long after = peakRssKiB(session.pid());
  EXPECT_LT(after - before, 32 * 1024) << "the reader held the long line";
  session.closeInput();
  EXPECT_EQ(session.waitExit(), 0);
  EXPECT_EQ(session.eventNames(), (std::vector<std::string>{"ready", "error", "error"}));
}

TEST(ListenProcess, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  ListenSession session(replayScenario);
  session.send("{\"cmd\":\"st\xFFop\"}");
  session.closeInput();
  EXPECT_EQ(session.waitExit(), 0);
  ASSERT_EQ(session.events().size(), 2u);
  EXPECT_EQ(session.events()[1]["message"], "unknown command 'st\xEF\xBF\xBDop'");
}

TEST(ListenProcess, EchoedClientTextKeepsEveryLineWithinTheAnnouncedSize) {
  // Each line stays below the 1 MiB a command line may have.
  std::string huge(400000, 'x');
  std::string half(200000, 'x');
  std::string controls = Json(std::string(100000, '\x01')).dump();  // a quoted string of \u0001 escapes
  struct Case {
    std::string line;
    std::string cutEnd;  // how the echoed text ends
  };
  const Case cases[] = {
      {"{\"cmd\":\"" + huge + "\"}", "xxx\u2026'"},
      {"{\"cmd\":\"start\",\"locale\":\"" + huge + "\"}", "xxx\u2026'"},
      {"{\"cmd\":\"start\",\"locale\":\"" + half + "-" + half + "\"}", "xxx\u2026'"},
      {"{\"cmd\":\"start\",\"locale\":" + controls + "}", "\x01\u2026'"},
  };
  ListenSession session(replayScenario);
  std::int64_t limit = session.awaitEvent("ready")["maxEventLineBytes"];
  for (const auto& c : cases) {
    session.send(c.line);
    Json error = session.awaitEvent("error");
    ASSERT_FALSE(error.is_null());
    // Our lines differ from this rendering only in escaping '/', which none has.
    EXPECT_LE(static_cast<std::int64_t>(error.dump().size() + 1), limit);
    std::string message = error["message"];
    EXPECT_NE(message.find(c.cutEnd), std::string::npos) << message.substr(0, 80);
  }
  session.closeInput();
  EXPECT_EQ(session.waitExit(), 0);
}

TEST(ListenProcess, AParentThatStopsReadingDoesNotKillTheService) {
  ListenSession session(replayScenario);
  session.send(R"({"cmd":"start","locale":"de-DE","replay":"long.wav"})");
  ASSERT_FALSE(session.awaitEvent("capture-started").is_null());
  session.closeOutput();
  session.send(R"({"cmd":"stop"})");
  session.send(R"({"cmd":"start","locale":"de-DE","replay":"a.wav"})");
  session.closeInput();
  EXPECT_EQ(session.waitExit(), 0);
  bool exited = false;
  for (const auto& log : session.logLines()) {
    if (log["event"] == "listen.exit") exited = log["sessions"] >= 1;
  }
  EXPECT_TRUE(exited) << session.err();
}

// Node's spawn gives the child a stderr pipe that many parents never read.
TEST(ListenProcess, AnUnreadStderrNeverHoldsUpTheService) {
  ListenSession session(replayScenario);
  session.leaveStderrUnread();
  ASSERT_FALSE(session.awaitEvent("ready").is_null());
  // Each refusal is mirrored by a log line: together several times what a pipe holds.
  std::string refused;
  for (int i = 0; i < 3000; ++i) refused += "{\"cmd\":\"nap\"}\n";
  session.sendRaw(refused);
  session.send(R"({"cmd":"start","locale":"de-DE","replay":"a.wav"})");
  ASSERT_FALSE(session.awaitEvent("session-ended", std::chrono::seconds(20)).is_null());
  EXPECT_EQ(session.sessionEvents(1, "session-ended").size(), 1u);
  session.drainStderr();  // room again: the next line says how many were lost
  session.send(R"({"cmd":"quit"})");
  auto quitAt = ListenProcess::Clock::now();
  ASSERT_EQ(session.waitExit(std::chrono::seconds(10)), 0);
  EXPECT_LT(ListenProcess::Clock::now() - quitAt, std::chrono::seconds(1));
  std::vector<Json> logs;
  for (const auto& line : lines(session.err())) {
    logs.push_back(Json::parse(line, nullptr, false));
    ASSERT_TRUE(logs.back().is_object()) << "not a whole log line: " << line;
  }
  ASSERT_GE(logs.size(), 2u);
  const Json& dropped = logs[logs.size() - 2];
  EXPECT_EQ(dropped["event"], "log.dropped");
  EXPECT_GT(dropped.value("lines", 0), 0);
  // Each line written or counted once: the 3000 mirrors and a few others.
  EXPECT_GE(dropped.value("lines", 0) + logs.size(), 3000u);
  EXPECT_LT(dropped.value("lines", 0) + logs.size(), 3000u + 20u);
  EXPECT_EQ(logs.back()["event"], "listen.exit");
}

// The warm-up reports from its own thread; whenever it ends, around the quit
// or after it, its line never follows listen.exit.
TEST(ListenProcess, TheWarmUpNeverWritesAfterListenExit) {
  for (int preparedAfterMs : {0, 2, 5, 10, 20}) {
    ListenSession session(R"({"installedLocales":["de_DE"],"preparedAfterMs":)" + std::to_string(preparedAfterMs) +
                          "}");
    ASSERT_FALSE(session.awaitEvent("ready").is_null());
    quitAndExpectCleanExit(session, 0);
  }
}

TEST(ListenProcess, SigintWhileIdleExitsLikeQuit) {
  ListenSession session(replayScenario);
  ASSERT_FALSE(session.awaitEvent("ready").is_null());
  session.signal(SIGINT);
  EXPECT_EQ(session.waitExit(), 0);
  EXPECT_EQ(session.eventNames(), std::vector<std::string>{"ready"});
  auto logs = session.logLines();
  ASSERT_GE(logs.size(), 2u);
  EXPECT_EQ(logs[logs.size() - 2]["signal"], "SIGINT");
  EXPECT_EQ(logs.back()["event"], "listen.exit");
}

// Whether the start is taken before the quit arrives depends on timing: either
// no session runs, or it runs and is closed at once. Both end the same way.
TEST(ListenProcess, QuitRightBehindAStartEndsTheService) {
  for (int round = 0; round < 5; ++round) {
    ListenSession session(replayScenario);
    session.sendRaw("{\"cmd\":\"start\",\"locale\":\"de-DE\",\"replay\":\"long.wav\"}\n{\"cmd\":\"quit\"}\n");
    EXPECT_EQ(session.waitExit(), 0);
    auto names = session.eventNames();
    std::vector<std::string> expected{"ready"};
    if (names.size() > 1) expected = {"ready", "session-started", "capture-started", "final", "session-ended"};
    EXPECT_EQ(names, expected);
    auto logs = session.logLines();
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(logs.back()["event"], "listen.exit");
    EXPECT_EQ(logs.back()["sessions"], names.size() > 1 ? 1 : 0);
  }
}

}  // namespace
}  // namespace tolva::test
