// Everything that ends a listen process or its session ends it promptly:
// stop, quit, the end of input and the termination signals, also in the
// middle of a replay's hour-long pause and after input has ended.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <string>
#include <thread>

#include "support/listen_session.hpp"
#include "support/run_tool.hpp"

namespace tolva::test {
namespace {

using namespace std::chrono_literals;

const std::string scenario = R"({"installedLocales":["de_DE"],"files":{"a.wav":{"length":16000}}})";
// Each chunk is followed by a pause of an hour.
const std::string hourPauses = R"({"cmd":"start","locale":"de-DE","replay":"a.wav","chunkMs":3600000})";

struct Ending {
  const char* name;
  std::function<void(ListenSession&)> act;
};

TEST(ListenInterruption, EveryWayOfEndingCutsAReplayPauseShort) {
  const Ending endings[] = {
      {"stop then quit", [](ListenSession& s) { s.send(R"({"cmd":"stop"})"), s.send(R"({"cmd":"quit"})"); }},
      {"quit", [](ListenSession& s) { s.send(R"({"cmd":"quit"})"); }},
      {"end of input", [](ListenSession& s) { s.closeInput(); }},
      {"SIGTERM", [](ListenSession& s) { s.signal(SIGTERM); }},
      {"SIGINT", [](ListenSession& s) { s.signal(SIGINT); }},
      {"SIGHUP", [](ListenSession& s) { s.signal(SIGHUP); }},
  };
  for (const auto& ending : endings) {
    SCOPED_TRACE(ending.name);
    ListenSession session(scenario);
    session.send(hourPauses);
    ASSERT_FALSE(session.awaitEvent("capture-started").is_null());
    std::this_thread::sleep_for(500ms);  // the first chunk is fed and its pause begins
    ending.act(session);
    // Generous against a loaded machine, and nothing like the hour of the pause.
    Json ended = session.awaitEvent("session-ended", 20s);
    ASSERT_FALSE(ended.is_null());
    EXPECT_FALSE(ended.contains("failed"));
    // One chunk was fed; the stop never cuts into one.
    EXPECT_EQ(ended["audioFedMs"], 1000);
    if (std::string(ending.name) == "stop then quit") session.closeInput();
    EXPECT_EQ(session.waitExit(20s), 0);
  }
}

TEST(ListenInterruption, SignalsStillActAfterTheEndOfInput) {
  // A finalize that hangs until its bound keeps the session open for 2.5 s
  // after the file is fed, and after the input ends.
  ListenSession session(R"({"installedLocales":["de_DE"],"files":{"a.wav":{"length":1600}},
                            "analyzer":{"finalizeHangs":true}})");
  session.send(R"({"cmd":"start","locale":"de-DE","replay":"a.wav","chunkMs":0})");
  ASSERT_FALSE(session.awaitEvent("capture-started").is_null());
  std::this_thread::sleep_for(200ms);  // the file is fed; the finalize has begun
  session.closeInput();
  std::this_thread::sleep_for(300ms);  // the end of input is taken first
  session.signal(SIGTERM);
  EXPECT_EQ(session.waitExit(20s), 0);
  bool signalSeen = false;
  for (const auto& line : session.logLines()) signalSeen = signalSeen || line["event"] == "listen.signal";
  EXPECT_TRUE(signalSeen) << session.err();
}

TEST(ListenInterruption, AClosedStandardInputReadsAsTheEndOfInput) {
  ToolOptions options;
  options.closedFds = {0};
  options.timeoutSeconds = 20;
  ToolRun run = runScripted({"listen"}, scenario, options);
  EXPECT_EQ(run.status, 0);
  auto events = lines(run.out);
  ASSERT_EQ(events.size(), 1u) << run.out;
  EXPECT_EQ(Json::parse(events[0])["event"], "ready");
  auto logs = lines(run.err);
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(Json::parse(logs.back())["event"], "listen.exit");
}

TEST(ListenInterruption, OneShotCommandsKeepTheirExitStatusWithClosedStreams) {
  struct Case {
    std::vector<std::string> args;
    std::vector<int> closed;
    int status;
  };
  const Case cases[] = {
      {{"probe"}, {1}, 0},
      {{"probe"}, {0, 1, 2}, 0},
      {{"release"}, {1}, 1},
      {{"release"}, {1, 2}, 1},
  };
  for (const auto& c : cases) {
    ToolOptions options;
    options.closedFds = c.closed;
    options.timeoutSeconds = 20;
    EXPECT_EQ(runScripted(c.args, "{}", options).status, c.status) << c.args[0] << " closed " << c.closed.size();
  }
}

}  // namespace
}  // namespace tolva::test
