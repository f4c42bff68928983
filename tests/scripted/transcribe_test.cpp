// transcribe through the test executable: every failure row, and the document.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/documents.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;

const std::string emDash = "\xE2\x80\x94";

json installedGerman() {
  return {{"supportedLocales", {"en_US", "de_DE"}},
          {"installedLocales", {"de_DE"}},
          {"files", {{"a.wav", {{"sampleRate", 16000}, {"channels", 1}, {"length", 32000}}}}}};
}

class Transcribe : public testing::Test {
 protected:
  ToolRun run(const json& scenario, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"transcribe", audio.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runScripted(args, scenario.dump());
  }

  TempDir dir;
  std::filesystem::path audio = dir.write("a.wav", "");
};

struct FailureCase {
  const char* name;
  json patch;  // merged into installedGerman()
  std::vector<std::string> extra;
  std::string code;
  std::string message;
  std::optional<std::string> detail = std::nullopt;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class TranscribeFailures : public Transcribe, public testing::WithParamInterface<FailureCase> {};

TEST_P(TranscribeFailures, EndInTheirErrorDocument) {
  const FailureCase& c = GetParam();
  json scenario = installedGerman();
  scenario.merge_patch(c.patch);
  expectFailure(run(scenario, c.extra), c.code, c.message, c.detail);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TranscribeFailures,
    testing::Values(
        FailureCase{"unavailable", {{"available", false}}, {}, "unavailable",
                    "SpeechTranscriber.isAvailable == false on this machine"},
        FailureCase{"unsupported_locale", json::object(), {"--locale", "xx-XX"}, "unsupported-locale",
                    "SpeechTranscriber has no model for 'xx-XX' " + emDash +
                        " it supports only 2 locales; there is no download that adds it",
                    "de_DE,en_US"},
        FailureCase{"unsupported_on_device", {{"status", {{"de_DE", "unsupported"}}}}, {},
                    "locale-unsupported-on-device",
                    "assets for de_DE report 'unsupported' on this machine " + emDash + " no download will fix this"},
        FailureCase{"downloading", {{"status", {{"de_DE", "downloading"}}}}, {}, "asset-not-installed",
                    "locale assets for de_DE are 'downloading' " + emDash +
                        " rerun with --auto-install or run `install` first"},
        FailureCase{"unknown_status", {{"status", {{"de_DE", "other"}}}}, {}, "asset-not-installed",
                    "locale assets for de_DE are 'unknown' " + emDash +
                        " rerun with --auto-install or run `install` first"},
        FailureCase{"install_request_throws",
                    {{"installedLocales", json::array()}, {"install", {{"requestError", "no network"}}}},
                    {"--auto-install"}, "asset-install-failed", "could not install locale assets", "no network"},
        FailureCase{"download_throws",
                    {{"installedLocales", json::array()}, {"install", {{"downloadError", "disk full"}}}},
                    {"--auto-install"}, "asset-install-failed", "could not install locale assets", "disk full"},
        FailureCase{"audio_open_failed", {{"files", {{"a.wav", {{"openError", "Invalid data found"}}}}}}, {},
                    "audio-open-failed",
                    "AVAudioFile could not read a.wav " + emDash + " AVFoundation does not decode this container\\/codec",
                    "Invalid data found"},
        FailureCase{"analyze_throws", {{"analyzer", {{"analyzeError", "decoder broke"}}}}, {}, "analyze-failed",
                    "analyzeSequence\\/finalize threw", "decoder broke"},
        FailureCase{"finalize_throws", {{"analyzer", {{"finalizeError", "finalize broke"}}}}, {}, "analyze-failed",
                    "analyzeSequence\\/finalize threw", "finalize broke"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// Without --locale the German default is used; when no German model exists the
// detail says so after the list it always gives, and only then.
TEST_F(Transcribe, AnUnsupportedDefaultLocaleSaysItWasTheDefault) {
  json englishOnly = {{"supportedLocales", {"en_US"}}, {"installedLocales", {"en_US"}}};
  std::string message = "SpeechTranscriber has no model for 'de-DE' " + emDash +
                        " it supports only 1 locales; there is no download that adds it";
  expectFailure(run(englishOnly), "unsupported-locale", message,
                "en_US; de-DE was the default locale, --locale chooses another");
  expectFailure(run(englishOnly, {"--locale", "de-DE"}), "unsupported-locale", message, "en_US");
}

TEST_F(Transcribe, MissingFileFailsWithItsPathEscaped) {
  ToolRun result = runScripted({"transcribe", "/no/such/a.wav"}, installedGerman().dump());
  expectFailure(result, "no-such-file", "audio file not found: \\/no\\/such\\/a.wav");
}

TEST_F(Transcribe, DocumentIsPinned) {
  json scenario = installedGerman();
  scenario["analyzer"] = {{"results",
                           {{{"text", " Hallo"}, {"start", 0}, {"end", 1.25}, {"alternatives", 2}},
                            {{"text", " Welt.\n"}, {"start", 1.25}, {"end", 2}, {"alternatives", 1}}}}};
  ToolRun result = run(scenario);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withZeroedNumbers(result.out, {"processingTimeMs", "_realtimeFactor"}),
            "{\n"
            "  \"_alternativesCount\" : 3,\n"
            "  \"_assetStatusBefore\" : \"installed\",\n"
            "  \"_audioFormat\" : \"16000Hz ch=1 1\",\n"
            "  \"_localeRequested\" : \"de-DE\",\n"
            "  \"_localeUsed\" : \"de_DE\",\n"
            "  \"_realtimeFactor\" : 0,\n"
            "  \"duration\" : 2,\n"
            "  \"language\" : \"de_DE\",\n"
            "  \"processingTimeMs\" : 0,\n"
            "  \"segments\" : [\n"
            "    {\n"
            "      \"end\" : 1.25,\n"
            "      \"start\" : 0,\n"
            "      \"text\" : \" Hallo\"\n"
            "    },\n"
            "    {\n"
            "      \"end\" : 2,\n"
            "      \"start\" : 1.25,\n"
            "      \"text\" : \" Welt.\\n\"\n"
            "    }\n"
            "  ],\n"
            "  \"transcript\" : \"Hallo Welt.\"\n"
            "}\n");
  // The collector's segment lines and the progress lines may fall anywhere
  // between the handler's own.
  std::vector<std::string> handlerEvents;
  int segmentLines = 0;
  for (const auto& event : logEvents(result)) {
    if (event == "transcribe.segment") {
      ++segmentLines;
    } else if (event != "transcribe.progress") {
      handlerEvents.push_back(event);
    }
  }
  EXPECT_EQ(segmentLines, 2);
  EXPECT_EQ(handlerEvents,
            (std::vector<std::string>{"transcribe.start", "transcribe.localeResolved", "transcribe.assetStatus",
                                      "transcribe.audioOpened", "transcribe.analyzeSequence.begin",
                                      "transcribe.analyzeSequence.end", "transcribe.finalized", "transcribe.done"}));
  json done = logEvent(result, "transcribe.done");
  EXPECT_EQ(done["segments"], 2);
  EXPECT_EQ(done["chars"], 11);
  EXPECT_EQ(logEvent(result, "transcribe.analyzeSequence.end")["lastTime"], 2);
}

TEST_F(Transcribe, EmptyAudioWithoutResultsHasNoRealtimeFactor) {
  json scenario = installedGerman();
  scenario["files"]["a.wav"]["length"] = 0;
  ToolRun result = run(scenario);
  ASSERT_EQ(result.status, 0) << result.err;
  json document = json::parse(result.out);
  EXPECT_EQ(document["transcript"], "");
  EXPECT_EQ(document["segments"], json::array());
  EXPECT_EQ(document["duration"], 0);
  EXPECT_EQ(document["_alternativesCount"], 0);
  EXPECT_FALSE(document.contains("_realtimeFactor"));
  EXPECT_FALSE(document.contains("confidence"));
  EXPECT_EQ(logEvent(result, "transcribe.done")["realtimeFactor"], -1);
  EXPECT_EQ(logEvent(result, "transcribe.analyzeSequence.end")["lastTime"], -1);
}

TEST_F(Transcribe, NonFiniteTimesAreLoggedAsMinusOneAndStoredAsZero) {
  json scenario = installedGerman();
  scenario["analyzer"] = {{"results", {{{"text", "e\xCC\x81t\xC3\xA9"}, {"start", nullptr}, {"end", nullptr}}}}};
  ToolRun result = run(scenario);
  ASSERT_EQ(result.status, 0) << result.err;
  json segment = json::parse(result.out)["segments"][0];
  EXPECT_EQ(segment["start"], 0);
  EXPECT_EQ(segment["end"], 0);
  json logged = logEvent(result, "transcribe.segment");
  EXPECT_EQ(logged["start"], -1);
  EXPECT_EQ(logged["end"], -1);
  EXPECT_EQ(logged["chars"], 3);  // e + combining accent is one character
}

TEST_F(Transcribe, ResultsStreamErrorKeepsWhatCameBefore) {
  json scenario = installedGerman();
  scenario["analyzer"] = {{"results", {{{"text", "Hallo"}}}}, {"resultsError", "stream broke"}};
  ToolRun result = run(scenario);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(json::parse(result.out)["transcript"], "Hallo");
  EXPECT_EQ(logEvent(result, "transcribe.resultsStreamError")["error"], "stream broke");
}

TEST_F(Transcribe, AutoInstallRunsOnlyWhenNeeded) {
  struct Case {
    json patch;
    bool noRequest;
    bool autoInstalling, done;
    std::string statusBefore;
  };
  std::vector<Case> cases{
      {json::object(), false, false, false, "installed"},
      {{{"installedLocales", json::array()}, {"reserve", {{"error", "slots full"}}}}, false, true, true, "supported"},
      {{{"installedLocales", json::array()}}, true, true, false, "supported"},
  };
  for (const auto& c : cases) {
    json scenario = installedGerman();
    scenario.merge_patch(c.patch);
    if (c.noRequest) scenario["install"] = nullptr;
    ToolRun result = run(scenario, {"--auto-install"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(!logEvent(result, "transcribe.autoInstalling").is_null(), c.autoInstalling) << c.patch;
    EXPECT_EQ(!logEvent(result, "transcribe.autoInstall.done").is_null(), c.done) << c.patch;
    EXPECT_EQ(json::parse(result.out)["_assetStatusBefore"], c.statusBefore);
  }
}

// The "transcribe.progress" lines of a run, with the indexes of the analysis'
// begin and end lines around them.
struct ProgressLines {
  std::vector<json> lines;
  std::vector<std::size_t> at;
  std::size_t begin = 0, end = 0;
};

ProgressLines progressLines(const ToolRun& run) {
  ProgressLines progress;
  std::vector<json> all = logLines(run);
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i]["event"] == "transcribe.progress") {
      progress.lines.push_back(all[i]);
      progress.at.push_back(i);
    }
    if (all[i]["event"] == "transcribe.analyzeSequence.begin") progress.begin = i;
    if (all[i]["event"] == "transcribe.analyzeSequence.end") progress.end = i;
  }
  return progress;
}

TEST_F(Transcribe, ProgressIsLoggedWhileTheFileIsAnalysedAndEndsAtTheWholeFile) {
  json scenario = installedGerman();
  // The analysis lasts 2 s, long enough for several lines 500 ms apart.
  scenario["analyzer"] = {{"results", {{{"text", "Hallo"}, {"delayMs", 2000}}}}};
  ToolRun result = run(scenario);
  ASSERT_EQ(result.status, 0) << result.err;
  ProgressLines progress = progressLines(result);
  // One at once, at least one periodic one, and the final count.
  ASSERT_GE(progress.lines.size(), 3u) << result.err;
  double previous = 0;
  for (std::size_t i = 0; i < progress.lines.size(); ++i) {
    const json& line = progress.lines[i];
    EXPECT_GT(progress.at[i], progress.begin);
    EXPECT_LT(progress.at[i], progress.end);
    EXPECT_EQ(line.size(), 4u) << line;
    double fraction = line["fraction"];
    EXPECT_GE(fraction, previous) << line;
    EXPECT_LE(fraction, 1.0) << line;
    EXPECT_DOUBLE_EQ(line["audioSec"].get<double>(), fraction * 2) << line;
    previous = fraction;
  }
  EXPECT_EQ(progress.lines.back()["audioSec"], 2);
  EXPECT_EQ(progress.lines.back()["fraction"], 1);
  EXPECT_EQ(json::parse(result.out)["transcript"], "Hallo");
}

// The file is read at once, its results come over 1.8 s: progress follows
// the results, not the reading.
TEST_F(Transcribe, ProgressFollowsTheAudioWhoseResultsAreDelivered) {
  json scenario = installedGerman();
  scenario["analyzer"] = {{"results",
                           {{{"text", " eins"}, {"start", 0.1}, {"end", 0.5}, {"delayMs", 600}},
                            {{"text", " zwei"}, {"start", 0.6}, {"end", 1.5}, {"delayMs", 600}},
                            {{"text", " drei"}, {"start", 1.6}, {"end", 1.8}, {"delayMs", 600}}}}};
  ToolRun result = run(scenario);
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<double> fractions;  // up to the end of the analysis
  for (const json& line : logLines(result)) {
    if (line["event"] == "transcribe.analyzeSequence.end") break;
    if (line["event"] == "transcribe.progress") fractions.push_back(line["fraction"]);
  }
  ASSERT_GE(fractions.size(), 3u) << result.err;
  EXPECT_EQ(fractions.front(), 0);
  EXPECT_EQ(fractions.back(), 1);
  // While results come in, the fraction is where the last one ends, of 2 s.
  const std::set<double> steps{0, 0.25, 0.75, 0.9, 1};
  for (std::size_t i = 0; i < fractions.size(); ++i) {
    EXPECT_TRUE(steps.contains(fractions[i])) << fractions[i];
    if (i > 0) {
      EXPECT_GE(fractions[i], fractions[i - 1]);
    }
  }
  EXPECT_GE(std::count_if(fractions.begin(), fractions.end(), [](double f) { return f < 1; }), 2);
}

TEST_F(Transcribe, ProgressOfAFailedAnalysisStopsBeforeTheFailure) {
  json scenario = installedGerman();
  scenario["analyzer"] = {{"results", {{{"text", "Hallo"}, {"delayMs", 700}}}}, {"analyzeError", "decoder broke"}};
  ToolRun result = run(scenario);
  expectFailure(result, "analyze-failed", "analyzeSequence\\/finalize threw", "decoder broke");
  ProgressLines progress = progressLines(result);
  ASSERT_FALSE(progress.lines.empty());
  EXPECT_GT(progress.at.front(), progress.begin);
}

// Two thousand segment lines, several times what a pipe holds,
// to a parent that reads standard error only after the exit.
TEST_F(Transcribe, AnUnreadStderrDoesNotHoldUpTheDocument) {
  json scenario = installedGerman();
  scenario["files"]["a.wav"]["length"] = 16000 * 600;
  json results = json::array();
  for (int i = 0; i < 2000; ++i) results.push_back({{"text", "a"}});
  results.push_back({{"text", " Ende"}, {"delayMs", 1200}});
  scenario["analyzer"] = {{"results", results}};
  ToolOptions options;
  options.stderrUnread = true;
  options.timeoutSeconds = 30;
  ToolRun result = runScripted({"transcribe", audio.string()}, scenario.dump(), options);
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(json::parse(result.out)["segments"].size(), 2001u);
  for (const auto& line : lines(result.err)) {
    EXPECT_TRUE(json::parse(line, nullptr, false).is_object()) << "not a whole log line: " << line;
  }
}

TEST_F(Transcribe, LocaleFlagAndAudioFormatFollowTheRequest) {
  json scenario = installedGerman();
  scenario["installedLocales"] = {"en_US"};
  scenario["files"]["a.wav"] = {{"sampleRate", 44100}, {"channels", 2}, {"length", 44100}};
  ToolRun result = run(scenario, {"--locale", "EN_us"});
  ASSERT_EQ(result.status, 0) << result.err;
  json document = json::parse(result.out);
  EXPECT_EQ(document["_localeRequested"], "EN_us");
  EXPECT_EQ(document["_localeUsed"], "en_US");
  EXPECT_EQ(document["_audioFormat"], "44100Hz ch=2 1");
}

}  // namespace
}  // namespace tolva::test
