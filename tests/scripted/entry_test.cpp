// The process contract of the front end, through the test executable.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "support/run_tool.hpp"

namespace tolva::test {
namespace {

TEST(Entry, NoArgumentsPrintsTheUsageTextAndExits2) {
  ToolRun run = runScripted({}, "{}");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.size(), 651u);
  EXPECT_NE(run.err.find("  tolva-speech listen\n  tolva-speech --version\n\n"), std::string::npos);
  EXPECT_TRUE(run.err.starts_with("usage:\n  tolva-speech probe [--locale de-DE]\n"));
  EXPECT_NE(run.err.find("It has NO default locale \xE2\x80\x94\n"), std::string::npos);
  EXPECT_NE(run.err.find("  stdin:  {\"cmd\":\"start\",\"locale\":\"de-DE\",\"replay\":\"\xE2\x80\xA6\"} | "
                         "{\"cmd\":\"stop\"} | {\"cmd\":\"quit\"}\n"),
            std::string::npos);
  EXPECT_TRUE(run.err.ends_with("  stdout: ready | session-started | volatile | final | session-ended | error\n"));
}

struct FailureCase {
  std::vector<std::string> args;
  std::string code;
  std::string message;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class EntryFailures : public testing::TestWithParam<FailureCase> {};

// Each failure: the exact document on stdout, the fatal line last on stderr, exit 1.
TEST_P(EntryFailures, WriteTheErrorDocument) {
  const FailureCase& c = GetParam();
  ToolRun run = runScripted(c.args, "{}");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "{\n  \"error\" : \"" + c.code + "\",\n  \"message\" : \"" + c.message + "\"\n}\n");
  auto errLines = lines(run.err);
  ASSERT_FALSE(errLines.empty());
  auto fatal = nlohmann::json::parse(errLines.back());
  EXPECT_EQ(fatal["event"], "fatal");
  EXPECT_EQ(fatal["code"], c.code);
  EXPECT_EQ(fatal.size(), 4u);  // t, event, code, message
  EXPECT_TRUE(std::regex_match(fatal["t"].get<std::string>(), std::regex(R"(\d+\.\d{3})")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryFailures,
    testing::Values(FailureCase{{"transcribe"}, "usage", "transcribe requires an audio file path"},
                    FailureCase{{"transcribe", "--auto-install", "a.wav"}, "usage",
                                "transcribe requires an audio file path"},
                    FailureCase{{"transcribe", "--locale", "de-DE", "a.wav"}, "usage",
                                "transcribe requires an audio file path"},
                    FailureCase{{"Probe"}, "unknown-command", "unknown subcommand 'Probe'"},
                    FailureCase{{"--locale"}, "unknown-command", "unknown subcommand '--locale'"},
                    FailureCase{{"a/b"}, "unknown-command", "unknown subcommand 'a\\/b'"}));

TEST(Entry, VersionPrintsTheProjectVersionAndExits0) {
  ToolRun run = runScripted({"--version"}, "{}");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(TOLVA_VERSION) + "\n");
  EXPECT_EQ(run.err, "");
}

TEST(Entry, TheJoinedLocaleFlagIsTheSameFlag) {
  const std::string scenario = R"({"install": null})";
  ToolRun install = runScripted({"install", "--locale=en-US"}, scenario);
  ASSERT_EQ(install.status, 0) << install.err;
  EXPECT_EQ(nlohmann::json::parse(install.out)["locale"], "en-US");
}

TEST(Entry, DefaultsAndIgnoredArguments) {
  const std::string scenario = R"({"install": null})";
  ToolRun install = runScripted({"install"}, scenario);
  ASSERT_EQ(install.status, 0) << install.err;
  EXPECT_EQ(nlohmann::json::parse(install.out)["locale"], "de-DE");

  ToolRun probe = runScripted({"probe", "extra", "--locale"}, scenario);
  ASSERT_EQ(probe.status, 0) << probe.err;
  EXPECT_FALSE(nlohmann::json::parse(probe.out).contains("requestedLocale"));
}

}  // namespace
}  // namespace tolva::test
