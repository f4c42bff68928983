// Golden transcripts of the listen protocol: each file in golden/ drives the
// scripted tool with command lines and lists the events it must write.
//
// File format, one directive per line ('#' starts a comment):
//   scenario <json>        the scripted platform's scenario (first)
//   send <line>            write the line to standard input
//   await <event>          wait for the next event of that name
//   close                  close standard input
//   signal TERM|INT        send the signal
//   expect <json>          the next event on standard output: exactly these
//                          keys; the string "*" matches any value
//   log <event> <json>     a diagnostic line with at least these fields,
//                          after the one matched by the previous `log`
//   nolog <event>          no diagnostic line of that name
//   exit <status>          the exit status
// Every transcript also checks the invariants of any run: seq counts 1, 2, …
// without gaps, tMs never goes back, each error event has its "listen.error"
// log line, and each session-started is followed by its session-ended (a
// session that failed before it started has only the latter, with failed true).
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "support/listen_session.hpp"

namespace tolva::test {
namespace {

namespace fs = std::filesystem;

fs::path goldenDirectory() { return fs::path(__FILE__).parent_path() / "golden"; }

std::vector<std::string> goldenFiles() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(goldenDirectory())) {
    if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Directive {
  std::string verb;
  std::string rest;
  int line = 0;
};

std::vector<Directive> readTranscript(const fs::path& path) {
  std::ifstream file(path);
  std::vector<Directive> directives;
  std::string text;
  for (int number = 1; std::getline(file, text); ++number) {
    if (text.empty() || text[0] == '#') continue;
    auto space = text.find(' ');
    directives.push_back({text.substr(0, space), space == std::string::npos ? "" : text.substr(space + 1), number});
  }
  return directives;
}

bool matches(const Json& expected, const Json& actual) {
  if (!actual.is_object() || expected.size() != actual.size()) return false;
  for (const auto& [key, value] : expected.items()) {
    if (!actual.contains(key)) return false;
    if (value == "*") continue;
    if (value != actual[key]) return false;
  }
  return true;
}

bool contains(const Json& fields, const Json& actual) {
  for (const auto& [key, value] : fields.items()) {
    if (!actual.contains(key) || actual[key] != value) return false;
  }
  return true;
}

void checkInvariants(const std::vector<Json>& events, const std::vector<Json>& logs) {
  std::vector<std::string> errorCodes, loggedCodes;
  std::int64_t openSession = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i]["seq"], static_cast<std::int64_t>(i + 1)) << events[i];
    if (i > 0) {
      EXPECT_LE(events[i - 1]["tMs"], events[i]["tMs"]) << "tMs counts on from the process start";
    }
    const std::string name = events[i].value("event", "");
    if (name == "error") errorCodes.push_back(events[i].value("code", ""));
    if (name == "session-started") {
      EXPECT_EQ(openSession, 0) << "a session started before the last one ended";
      openSession = events[i]["session"];
    }
    if (name == "session-ended") {
      // Only a session that failed before it started ends without a start.
      if (openSession != 0) {
        EXPECT_EQ(events[i]["session"], openSession);
      } else {
        EXPECT_EQ(events[i].value("failed", false), true) << events[i];
      }
      openSession = 0;
    }
  }
  EXPECT_EQ(openSession, 0) << "a session-started without its session-ended";
  for (const auto& log : logs) {
    if (log["event"] == "listen.error") loggedCodes.push_back(log.value("code", ""));
  }
  EXPECT_EQ(loggedCodes, errorCodes);
}

class ListenGolden : public testing::TestWithParam<std::string> {};

TEST_P(ListenGolden, Transcript) {
  auto directives = readTranscript(goldenDirectory() / (GetParam() + ".txt"));
  ASSERT_FALSE(directives.empty());
  ASSERT_EQ(directives[0].verb, "scenario");
  ListenSession session(directives[0].rest);
  std::vector<Json> expected;
  std::optional<int> expectedExit;
  std::vector<Directive> logChecks;
  for (const auto& d : directives) {
    SCOPED_TRACE(GetParam() + ".txt:" + std::to_string(d.line));
    if (d.verb == "send")
      session.send(d.rest);
    else if (d.verb == "await")
      ASSERT_FALSE(session.awaitEvent(d.rest).is_null());
    else if (d.verb == "close")
      session.closeInput();
    else if (d.verb == "signal")
      session.signal(d.rest == "INT" ? SIGINT : SIGTERM);
    else if (d.verb == "expect")
      expected.push_back(Json::parse(d.rest));
    else if (d.verb == "exit")
      expectedExit = std::stoi(d.rest);
    else if (d.verb == "log" || d.verb == "nolog")
      logChecks.push_back(d);
    else if (d.verb != "scenario")
      FAIL() << "unknown directive " << d.verb;
  }
  int status = session.waitExit();
  if (expectedExit) {
    EXPECT_EQ(status, *expectedExit);
  }

  const auto& events = session.events();
  for (std::size_t i = 0; i < std::max(events.size(), expected.size()); ++i) {
    if (i >= events.size()) {
      ADD_FAILURE() << "missing event " << expected[i];
    } else if (i >= expected.size()) {
      ADD_FAILURE() << "unexpected event " << events[i];
    } else {
      EXPECT_TRUE(matches(expected[i], events[i]))
          << "event " << i + 1 << "\n  expected " << expected[i] << "\n  actual   " << events[i];
    }
  }

  auto logs = session.logLines();
  std::size_t from = 0;
  for (const auto& check : logChecks) {
    auto space = check.rest.find(' ');
    std::string name = check.rest.substr(0, space);
    if (check.verb == "nolog") {
      for (const auto& log : logs) EXPECT_NE(log["event"], name) << "line " << check.line;
      continue;
    }
    Json fields = space == std::string::npos ? Json::object() : Json::parse(check.rest.substr(space + 1));
    auto found = std::find_if(logs.begin() + static_cast<std::ptrdiff_t>(from), logs.end(),
                              [&](const Json& log) { return log["event"] == name && contains(fields, log); });
    if (found == logs.end()) {
      ADD_FAILURE() << GetParam() << ".txt:" << check.line << ": no log line " << check.rest << "\n" << session.err();
    } else {
      from = static_cast<std::size_t>(found - logs.begin()) + 1;
    }
  }
  checkInvariants(events, logs);
}

INSTANTIATE_TEST_SUITE_P(Golden, ListenGolden, testing::ValuesIn(goldenFiles()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace tolva::test
