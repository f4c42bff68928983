// release through the test executable.
#include <gtest/gtest.h>

#include "support/documents.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;

json reservedGerman() { return {{"supportedLocales", {"de_DE", "en_US"}}, {"reservedLocales", {"en_US", "de_DE"}}}; }

ToolRun release(const json& scenario, std::vector<std::string> args) {
  args.insert(args.begin(), "release");
  return runScripted(args, scenario.dump());
}

TEST(Release, RefusalsComeBeforeAnyChange) {
  expectFailure(release(reservedGerman(), {}), "locale-not-regioned",
                "release requires a locale with a region subtag (e.g. de-DE); got ''");
  expectFailure(release(reservedGerman(), {"--locale", "de"}), "locale-not-regioned",
                "release requires a locale with a region subtag (e.g. de-DE); got 'de'");
  expectFailure(release(reservedGerman(), {"--locale", "xx-XX"}), "unsupported-locale",
                "SpeechTranscriber does not support locale xx-XX");
  json unreserved = reservedGerman();
  unreserved["reservedLocales"] = {"en_US"};
  ToolRun run = release(unreserved, {"--locale", "de-DE"});
  expectFailure(run, "locale-not-reserved", "de_DE holds no reservation on this machine", "reserved=1 maximum=5");
  EXPECT_TRUE(logEvent(run, "release.called").is_null());
}

TEST(Release, OnlyAShorterListProvesTheRelease) {
  json stuck = reservedGerman();
  stuck["release"] = {{"result", true}, {"shrinks", false}};
  ToolRun run = release(stuck, {"--locale", "de-DE"});
  expectFailure(run, "release-failed", "AssetInventory.release did not free the reservation for de_DE",
                "accepted=true reservedBefore=2 reservedAfter=2");
  EXPECT_FALSE(logEvent(run, "release.statusAfter").is_null());

  // Freed, while another process took the slot: the list is as long as before.
  json refilled = reservedGerman();
  refilled["release"] = {{"reservedMeanwhile", {"fr_FR"}}};
  ToolRun taken = release(refilled, {"--locale", "de-DE"});
  ASSERT_EQ(taken.status, 0) << taken.err;
  EXPECT_EQ(json::parse(taken.out)["reservedAfter"], json({"en_US", "fr_FR"}));

  json deniedButGone = reservedGerman();
  deniedButGone["release"] = {{"result", false}};
  ToolRun gone = release(deniedButGone, {"--locale", "DE_de"});
  ASSERT_EQ(gone.status, 0) << gone.err;
  EXPECT_EQ(json::parse(gone.out)["released"], true);
  EXPECT_EQ(logEvent(gone, "release.called")["accepted"], false);
}

TEST(Release, DocumentIsPinned) {
  json scenario = reservedGerman();
  scenario["reservedLocales"] = {"en_US", "de_DE", "de_AT"};
  scenario["supportedLocales"] = {"de_DE", "en_US", "de_AT"};
  scenario["installedLocales"] = {"de_DE"};
  ToolRun run = release(scenario, {"--locale", "de-DE"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(withZeroedNumbers(run.out, {"elapsedMs"}),
            "{\n"
            "  \"elapsedMs\" : 0,\n"
            "  \"locale\" : \"de-DE\",\n"
            "  \"maximumReservedLocales\" : 5,\n"
            "  \"released\" : true,\n"
            "  \"reservedAfter\" : [\n"
            "    \"de_AT\",\n"
            "    \"en_US\"\n"
            "  ],\n"
            "  \"reservedBefore\" : [\n"
            "    \"de_AT\",\n"
            "    \"de_DE\",\n"
            "    \"en_US\"\n"
            "  ],\n"
            "  \"resolvedLocale\" : \"de_DE\",\n"
            "  \"statusAfter\" : \"installed\",\n"
            "  \"statusBefore\" : \"installed\"\n"
            "}\n");
  EXPECT_EQ(logEvents(run), (std::vector<std::string>{"release.start", "release.resolved", "release.statusBefore",
                                                      "release.called", "release.statusAfter"}));
  EXPECT_EQ(logEvent(run, "release.statusAfter")["reserved"], 2);
}

// A store that cannot be changed says why, in the detail of the one failure.
TEST(Release, PlatformErrorEndsUpInTheDetail) {
  json full = reservedGerman();
  full["release"] = {{"error", "cannot write reservations.json.tmp: No space left on device"}};
  ToolRun run = release(full, {"--locale", "de-DE"});
  expectFailure(run, "release-failed", "AssetInventory.release did not free the reservation for de_DE",
                "accepted=false reservedBefore=2 reservedAfter=2 "
                "error=cannot write reservations.json.tmp: No space left on device");
  EXPECT_EQ(logEvent(run, "release.called")["accepted"], false);
  EXPECT_EQ(logEvent(run, "release.called")["error"], "cannot write reservations.json.tmp: No space left on device");
}

}  // namespace
}  // namespace tolva::test
