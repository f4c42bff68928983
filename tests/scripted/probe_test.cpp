// probe through the test executable.
#include <gtest/gtest.h>

#include <regex>

#include "support/documents.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;

json twoLocales() {
  return {{"supportedLocales", {"en_US", "de_DE"}},
          {"installedLocales", {"en_US"}},
          {"reservedLocales", {"de_DE", "EN-us"}},
          {"equivalents", {{"de", "de_DE"}, {"en", "en_US"}}},
          {"status", {{"en_US", {{"batch", "installed"}, {"dictation", "downloading"}}}}}};
}

ToolRun probe(const json& scenario, std::vector<std::string> extra = {}) {
  extra.insert(extra.begin(), "probe");
  return runScripted(extra, scenario.dump());
}

// The machine-dependent members replaced by placeholders.
std::string withoutMachine(const std::string& document) {
  std::string out = std::regex_replace(document, std::regex("(\"cpu\" : )\"[^\"]*\""), "$1\"CPU\"");
  return std::regex_replace(out, std::regex("(\"osVersion\" : )\"[^\"]*\""), "$1\"OS\"");
}

TEST(Probe, DocumentWithoutRequestedLocaleIsPinned) {
  ToolRun run = probe(twoLocales());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(withoutMachine(run.out),
            "{\n"
            "  \"assetStatusForDE\" : \"supported\",\n"
            "  \"assetStatusForEN\" : \"installed\",\n"
            "  \"cpu\" : \"CPU\",\n"
            "  \"deLocaleResolution\" : {\n"
            "    \"de\" : \"de_DE\",\n"
            "    \"de-AT\" : \"<unsupported>\",\n"
            "    \"de-CH\" : \"<unsupported>\",\n"
            "    \"de-DE\" : \"de_DE\",\n"
            "    \"en\" : \"en_US\",\n"
            "    \"en-GB\" : \"<unsupported>\",\n"
            "    \"en-US\" : \"en_US\"\n"
            "  },\n"
            "  \"installedLocaleCount\" : 1,\n"
            "  \"installedLocales\" : [\n"
            "    \"en_US\"\n"
            "  ],\n"
            "  \"isAvailable\" : true,\n"
            "  \"localeStatuses\" : {\n"
            "    \"de_DE\" : \"supported\",\n"
            "    \"en_US\" : \"downloading\"\n"
            "  },\n"
            "  \"localeStatusesComplete\" : false,\n"
            "  \"maximumReservedLocales\" : 5,\n"
            "  \"osVersion\" : \"OS\",\n"
            "  \"reservedLocales\" : [\n"
            "    \"de_DE\",\n"
            "    \"en_US\"\n"
            "  ],\n"
            "  \"supportedLocaleCount\" : 2,\n"
            "  \"supportedLocales\" : [\n"
            "    \"de_DE\",\n"
            "    \"en_US\"\n"
            "  ]\n"
            "}\n");
  EXPECT_EQ(logEvents(run), (std::vector<std::string>{"probe.start", "probe.isAvailable", "probe.localeStatuses",
                                                      "probe.done"}));
  EXPECT_EQ(logLines(run)[0].size(), 2u) << "probe.start has no fields without a requested locale";
  EXPECT_EQ(logEvent(run, "probe.localeStatuses")["count"], 2);
  json document = json::parse(run.out);
  EXPECT_FALSE(document["cpu"].get<std::string>().empty());
  EXPECT_NE(document["osVersion"].get<std::string>().find("; Linux "), std::string::npos);
}

TEST(Probe, RequestedLocaleAddsTwoOrThreeMembers) {
  struct Case {
    std::string requested;
    std::size_t members;
    json resolved;
    std::string status;
  };
  for (const auto& c : {Case{"xx-XX", 16, nullptr, "unresolved"}, Case{"en-us", 17, "en_US", "installed"}}) {
    ToolRun run = probe(twoLocales(), {"--locale", c.requested});
    ASSERT_EQ(run.status, 0) << run.err;
    json document = json::parse(run.out);
    EXPECT_EQ(document.size(), c.members);
    EXPECT_EQ(document["requestedLocale"], c.requested);
    EXPECT_EQ(document.value("requestedLocaleResolved", json(nullptr)), c.resolved);
    EXPECT_EQ(document["requestedLocaleStatus"], c.status);
    json logged = logEvent(run, "probe.requestedLocale");
    EXPECT_EQ(logged["resolved"], c.resolved.is_null() ? json("<unresolved>") : c.resolved);
    EXPECT_EQ(logged["status"], c.status);
    EXPECT_EQ(logEvent(run, "probe.start")["locale"], c.requested);
  }
}

TEST(Probe, ReportsWhateverAnUnavailableEngineWithoutGermanAnswers) {
  json scenario = {{"available", false}, {"supportedLocales", {"en_US"}}};
  ToolRun run = probe(scenario);
  ASSERT_EQ(run.status, 0) << run.err;
  json document = json::parse(run.out);
  EXPECT_EQ(document.size(), 14u);
  EXPECT_EQ(document["isAvailable"], false);
  EXPECT_EQ(document["assetStatusForDE"], "n/a");
  EXPECT_EQ(document["assetStatusForEN"], "supported");
  for (const char* german : {"de", "de-DE", "de-AT", "de-CH"}) {
    EXPECT_EQ(document["deLocaleResolution"][german], "<unsupported>");
  }
  EXPECT_EQ(document["localeStatuses"], json::object());
  EXPECT_EQ(logEvent(run, "probe.localeStatuses")["count"], 0);
}

}  // namespace
}  // namespace tolva::test
