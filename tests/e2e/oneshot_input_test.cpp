// The one-shot commands of the shipped binary on input a parent did not
// expect to be hard: bytes that are not UTF-8, locales without a language or
// with a disguised hyphen, and a catalog that does not parse.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e/model_store_test_support.hpp"
#include "output/utf8_text.hpp"
#include "support/run_tool.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;
using namespace tolva::store::test;

const fs::path clip = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";

class OneShotInput : public StoreTest {
 protected:
  ToolRun tool(const std::vector<std::string>& args) { return runTool(TOLVA_BINARY, args); }

  // Every byte written is UTF-8, and every line of the log a JSON object.
  static void expectCleanOutput(const ToolRun& run) {
    EXPECT_TRUE(isValidUtf8(run.out)) << run.out;
    EXPECT_TRUE(isValidUtf8(run.err)) << run.err;
    EXPECT_TRUE(json::accept(run.out)) << run.out;
    for (const auto& line : lines(run.err)) EXPECT_TRUE(json::accept(line)) << line;
  }
};

TEST_F(OneShotInput, PathsThatAreNotUtf8AreWrittenAsUtf8AndStillOpen) {
  ToolRun missing = tool({"transcribe", "nofile\xFF.wav", "--locale", "en-US"});
  EXPECT_EQ(missing.status, 1);
  expectCleanOutput(missing);
  EXPECT_EQ(json::parse(missing.out)["message"], "audio file not found: nofile\uFFFD.wav");

  fs::path latin1 = temp.path() / "caf\xE9.wav";  // "café" in Latin-1
  fs::copy_file(clip, latin1);
  ToolRun heard = tool({"transcribe", latin1.string(), "--locale", "en-US"});
  ASSERT_EQ(heard.status, 0) << heard.err;
  expectCleanOutput(heard);
  EXPECT_FALSE(json::parse(heard.out)["segments"].empty());
}

TEST_F(OneShotInput, ALocaleWithoutALanguageResolvesToNothing) {
  for (std::string locale : {"", "und", "und-US"}) {
    ToolRun install = tool({"install", "--locale", locale});
    EXPECT_EQ(install.status, 1) << locale;
    EXPECT_EQ(json::parse(install.out)["error"], "unsupported-locale") << locale;
    ToolRun probe = tool({"probe", "--locale", locale});
    ASSERT_EQ(probe.status, 0) << locale;
    json document = json::parse(probe.out);
    EXPECT_EQ(document["requestedLocaleStatus"], "unresolved") << locale;
    EXPECT_FALSE(document.contains("requestedLocaleResolved")) << locale;
  }
  EXPECT_EQ(json::parse(tool({"probe"}).out)["reservedLocales"], json::array());
}

TEST_F(OneShotInput, AHyphenWithACombiningMarkIsNoRegionSeparator) {
  ASSERT_EQ(tool({"install", "--locale", "en-US"}).status, 0);
  ToolRun release = tool({"release", "--locale", "en-\xCC\x81US"});
  EXPECT_EQ(release.status, 1);
  EXPECT_EQ(json::parse(release.out)["error"], "locale-not-regioned");
  EXPECT_EQ(json::parse(tool({"probe"}).out)["reservedLocales"], json({"en_US"}));
}

TEST_F(OneShotInput, EveryCommandLogsItsStartBeforeTheStoreSpeaks) {
  writeCatalog("broken.json", "{ not json");
  const std::vector<std::vector<std::string>> commands = {{"probe"},
                                                          {"install", "--locale", "en-US"},
                                                          {"release", "--locale", "en-US"},
                                                          {"transcribe", clip.string(), "--locale", "en-US"}};
  for (const auto& args : commands) {
    ToolRun run = tool(args);
    auto log = lines(run.err);
    ASSERT_FALSE(log.empty()) << args[0];
    EXPECT_EQ(json::parse(log.front())["event"], args[0] + ".start");
    bool ignoredLogged = false;
    for (const auto& line : log)
      ignoredLogged = ignoredLogged || line.find("store.catalogFileIgnored") != std::string::npos;
    EXPECT_TRUE(ignoredLogged) << args[0];
  }
}

}  // namespace
}  // namespace tolva::test
