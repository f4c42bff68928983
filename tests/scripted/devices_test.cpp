// devices through the test executable: the sources the scripted sound server
// lists, and the error document when it cannot be reached.
#include <gtest/gtest.h>

#include "support/documents.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;

ToolRun devices(const json& scenario) { return runScripted({"devices"}, scenario.dump()); }

TEST(Devices, TheDefaultSourceIsListedWithItsRateAndChannels) {
  ToolRun run = devices({{"capture", {{"format", {{"sampleRate", 44100}, {"channels", 2}}}}}});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\n"
            "  \"sources\" : [\n"
            "    {\n"
            "      \"channels\" : 2,\n"
            "      \"default\" : true,\n"
            "      \"description\" : \"Scripted microphone\",\n"
            "      \"monitor\" : false,\n"
            "      \"name\" : \"scripted-mic\",\n"
            "      \"rate\" : 44100\n"
            "    }\n"
            "  ]\n"
            "}\n");
  EXPECT_EQ(logEvents(run), (std::vector<std::string>{"devices.start", "devices.done"}));
  EXPECT_EQ(logEvent(run, "devices.done")["default"], "scripted-mic");
}

TEST(Devices, SourcesAreSortedByNameWithMonitorsMarked) {
  json sources = json::array({
      {{"name", "usb-mic"}, {"description", "USB \"Pro\" mic"}, {"sampleRate", 48000}, {"channels", 1}},
      {{"name", "desk.monitor"}, {"sampleRate", 48000}, {"channels", 2}, {"monitor", true}},
      {{"name", "built-in"}, {"sampleRate", 16000}, {"channels", 1}, {"default", true}},
  });
  ToolRun run = devices({{"capture", {{"sources", sources}}}});
  ASSERT_EQ(run.status, 0) << run.err;
  json document = json::parse(run.out);
  ASSERT_EQ(document["sources"].size(), 3u);
  std::vector<std::string> names;
  for (const json& source : document["sources"]) names.push_back(source["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"built-in", "desk.monitor", "usb-mic"}));
  EXPECT_EQ(document["sources"][0]["default"], true);
  EXPECT_EQ(document["sources"][0]["rate"], 16000);
  EXPECT_EQ(document["sources"][1]["monitor"], true);
  EXPECT_EQ(document["sources"][1]["channels"], 2);
  EXPECT_EQ(document["sources"][2]["default"], false);
  EXPECT_EQ(document["sources"][2]["description"], "USB \"Pro\" mic");
}

TEST(Devices, AnUnreachableServerGivesAnErrorDocument) {
  ToolRun run = devices({{"capture", {{"sourcesError", "cannot connect to the sound server: Connection refused"}}}});
  expectFailure(run, "devices-failed", "the sound server's capture sources could not be listed",
                "cannot connect to the sound server: Connection refused");
}

}  // namespace
}  // namespace tolva::test
