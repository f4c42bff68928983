// install through the test executable: failures, the document, the sampler.
#include <gtest/gtest.h>

#include "support/documents.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;

json germanSupported() { return {{"supportedLocales", {"de_DE", "en_US"}}, {"install", {{"durationMs", 0}}}}; }

ToolRun install(const json& scenario, const std::string& locale = "de-DE") {
  return runScripted({"install", "--locale", locale}, scenario.dump());
}

// Indices of the first log lines with these events, in the order given.
bool loggedInOrder(const ToolRun& run, const std::vector<std::string>& events) {
  auto logged = logEvents(run);
  auto at = logged.begin();
  for (const auto& event : events) {
    at = std::find(at, logged.end(), event);
    if (at == logged.end()) return false;
  }
  return true;
}

TEST(Install, AnUnsupportedDefaultLocaleSaysItWasTheDefault) {
  json englishOnly = {{"supportedLocales", {"en_US"}}};
  expectFailure(runScripted({"install"}, englishOnly.dump()), "unsupported-locale",
                "SpeechTranscriber does not support locale de-DE",
                "de-DE was the default locale, --locale chooses another");
  expectFailure(runScripted({"install", "--locale", "de-DE"}, englishOnly.dump()), "unsupported-locale",
                "SpeechTranscriber does not support locale de-DE");
}

TEST(Install, FailuresEndInTheirErrorDocuments) {
  json full = germanSupported();
  full["reservedLocales"] = {"fr_FR", "it_IT", "es_ES", "pt_PT", "nl_NL"};
  expectFailure(install(germanSupported(), "xx-XX"), "unsupported-locale",
                "SpeechTranscriber does not support locale xx-XX");
  ToolRun fullRun = install(full);
  expectFailure(fullRun, "locale-reservation-full", "no free AssetInventory reservation slot for de_DE",
                "reserved=5 maximum=5");
  EXPECT_FALSE(loggedInOrder(fullRun, {"install.reserved"}));

  json reserveThrows = germanSupported();
  reserveThrows["reserve"] = {{"error", "inventory locked"}};
  ToolRun reserveRun = install(reserveThrows);
  expectFailure(reserveRun, "reserve-failed", "AssetInventory.reserve threw", "inventory locked");
  EXPECT_EQ(logEvent(reserveRun, "install.reserveFailed")["error"], "inventory locked");

  for (const char* key : {"requestError", "downloadError"}) {
    json installThrows = germanSupported();
    installThrows["install"][key] = "network down";
    ToolRun run = install(installThrows);
    expectFailure(run, "install-failed", "downloadAndInstall threw", "network down");
    EXPECT_EQ(logEvent(run, "install.failed")["error"], "network down");
  }
}

TEST(Install, FullSlotsDoNotStopAReservedOrInstalledLocale) {
  json reserved = germanSupported();
  reserved["reservedLocales"] = {"fr_FR", "it_IT", "es_ES", "pt_PT", "DE-de"};
  reserved["reserve"] = {{"result", false}};
  json installed = germanSupported();
  installed["reservedLocales"] = {"fr_FR", "it_IT", "es_ES", "pt_PT", "nl_NL"};
  installed["installedLocales"] = {"de_DE"};
  installed["reserve"] = {{"result", true}};
  for (const json& scenario : {reserved, installed}) {
    ToolRun run = install(scenario);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(logEvent(run, "install.reserved")["value"], scenario["reserve"]["result"]);
    EXPECT_EQ(json::parse(run.out)["reserved"], scenario["reserve"]["result"]);
  }
}

TEST(Install, DocumentWithoutInstallationRequestIsPinned) {
  json scenario = germanSupported();
  scenario["install"] = nullptr;
  scenario["reservedLocales"] = {"en_US"};
  ToolRun run = install(scenario, "de-de");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(withZeroedNumbers(run.out, {"elapsedMs"}),
            "{\n"
            "  \"elapsedMs\" : 0,\n"
            "  \"installRequested\" : false,\n"
            "  \"locale\" : \"de-de\",\n"
            "  \"maximumReservedLocales\" : 5,\n"
            "  \"progressSamples\" : [],\n"
            "  \"reserved\" : true,\n"
            "  \"reservedCount\" : 2,\n"
            "  \"resolvedLocale\" : \"de_DE\",\n"
            "  \"statusAfter\" : \"supported\",\n"
            "  \"statusBefore\" : \"supported\"\n"
            "}\n");
  EXPECT_EQ(logEvents(run), (std::vector<std::string>{"install.start", "install.resolved", "install.statusBefore",
                                                      "install.reserved", "install.noRequestNeeded",
                                                      "install.statusAfter", "install.reservedAfter"}));
  EXPECT_EQ(logEvent(run, "install.noRequestNeeded")["reason"],
            "assetInstallationRequest returned nil (already installed or nothing to do)");
}

// The samples and the log times of the "install.progress" lines of a run.
struct Sampled {
  std::vector<std::string> samples;
  std::vector<double> times;
  double requestTime = 0;
};

Sampled sampledInstall(const json& progress, int durationMs) {
  json scenario = germanSupported();
  scenario["install"] = {{"progress", progress}, {"durationMs", durationMs}};
  ToolRun run = install(scenario);
  EXPECT_EQ(run.status, 0) << run.err;
  Sampled sampled;
  json document = json::parse(run.out);
  for (const auto& sample : document["progressSamples"]) sampled.samples.push_back(sample);
  for (const auto& line : logLines(run)) {
    if (line["event"] == "install.progress") sampled.times.push_back(std::stod(line["t"].get<std::string>()));
    if (line["event"] == "install.requestCreated") sampled.requestTime = std::stod(line["t"].get<std::string>());
  }
  EXPECT_EQ(document["statusAfter"], "installed");
  return sampled;
}

TEST(InstallSampler, SamplesAtOnceThenEvery500Ms) {
  Sampled sampled = sampledInstall({{{"atMs", 0}, {"fraction", 0.1}, {"completed", 1}, {"total", 10}},
                                    {{"atMs", 750}, {"fraction", 0.5}, {"completed", 5}, {"total", 10}},
                                    {{"atMs", 1750}, {"fraction", 0.9}, {"completed", 9}, {"total", 10}}},
                                   2250);
  ASSERT_GE(sampled.samples.size(), 3u);
  EXPECT_EQ(sampled.samples.front(), "0.100");
  EXPECT_EQ(sampled.samples.back(), "0.900");
  EXPECT_LT(sampled.times.front() - sampled.requestTime, 0.25);
  for (std::size_t i = 1; i < sampled.times.size(); ++i) {
    double gap = sampled.times[i] - sampled.times[i - 1];
    EXPECT_GE(gap, 0.499);
    EXPECT_LT(gap, 1.0) << "a loaded machine stretches the rhythm, but not this much";
  }
}

TEST(InstallSampler, ExactlyOneStopsWithoutCancelButRoundedOneDoesNot) {
  Sampled exact = sampledInstall({{{"atMs", 0}, {"fraction", 0.2}}, {{"atMs", 750}, {"fraction", 1.0}}}, 2600);
  ASSERT_FALSE(exact.samples.empty());
  EXPECT_EQ(exact.samples.back(), "1.000");
  EXPECT_EQ(std::count(exact.samples.begin(), exact.samples.end(), "1.000"), 1);

  Sampled rounded = sampledInstall({{{"atMs", 0}, {"fraction", 0.2}}, {{"atMs", 750}, {"fraction", 0.9996}}}, 2600);
  EXPECT_GE(std::count(rounded.samples.begin(), rounded.samples.end(), "1.000"), 2);
}

}  // namespace
}  // namespace tolva::test
