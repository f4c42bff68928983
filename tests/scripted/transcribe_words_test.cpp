// transcribe's opt-in outputs through the test executable: --words, --format
// and --max-segment, and the document without them.
#include <gtest/gtest.h>

#include "support/documents.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;

json word(const std::string& text, double start, double end, double confidence) {
  return {{"word", text}, {"start", start}, {"end", end}, {"confidence", confidence}};
}

// Two results with their words; the second one lasts 12 s with a long pause
// after "drift".
json withWords() {
  json results = json::array();
  results.push_back({{"text", " hello there"},
                     {"start", 0.5},
                     {"end", 1.4},
                     {"alternatives", 1},
                     {"words", {word("hello", 0.5, 0.9, 0.93), word("there", 0.95, 1.4, 0.5)}}});
  results.push_back(
      {{"text", " the boats drift and the river runs on"},
       {"start", 2},
       {"end", 14},
       {"alternatives", 2},
       {"words",
        {word("the", 2, 2.2, 0.9), word("boats", 2.2, 3, 0.9), word("drift", 3, 4, 0.8), word("and", 7, 7.5, 0.7),
         word("the", 7.5, 8, 0.9), word("river", 8, 9, 0.9), word("runs", 9.1, 12, 0.6), word("on", 12.1, 14, 0.4)}}});
  return {{"supportedLocales", {"en_US"}},
          {"installedLocales", {"en_US"}},
          {"files", {{"a.wav", {{"sampleRate", 16000}, {"channels", 1}, {"length", 16000 * 15}}}}},
          {"analyzer", {{"results", results}}}};
}

class TranscribeWords : public testing::Test {
 protected:
  ToolRun run(const json& scenario, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"transcribe", audio.string(), "--locale", "en-US"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runScripted(args, scenario.dump());
  }

  static std::string pinned(const std::string& document) {
    return withZeroedNumbers(document, {"processingTimeMs", "_realtimeFactor"});
  }

  TempDir dir;
  std::filesystem::path audio = dir.write("a.wav", "");
};

TEST_F(TranscribeWords, WithoutFlagsTheDocumentIgnoresWordsTheEngineCouldGive) {
  json plain = withWords();
  for (auto& result : plain["analyzer"]["results"]) result.erase("words");
  ToolRun withoutWords = run(plain);
  ToolRun withWordsScripted = run(withWords());
  ToolRun explicitJson = run(withWords(), {"--format", "json"});
  ASSERT_EQ(withoutWords.status, 0) << withoutWords.err;
  EXPECT_EQ(pinned(withWordsScripted.out), pinned(withoutWords.out));
  EXPECT_EQ(pinned(explicitJson.out), pinned(withoutWords.out));
  EXPECT_EQ(pinned(withoutWords.out).find("words"), std::string::npos);
  EXPECT_EQ(json::parse(withoutWords.out)["segments"][1],
            (json{{"start", 2}, {"end", 14}, {"text", " the boats drift and the river runs on"}}));
}

TEST_F(TranscribeWords, WordsArePinnedInKeyOrderAndJoinToTheText) {
  ToolRun result = run(withWords(), {"--words"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::string document = pinned(result.out);
  EXPECT_NE(document.find("      \"text\" : \" hello there\",\n"
                          "      \"words\" : [\n"
                          "        {\n"
                          "          \"confidence\" : 0.93,\n"
                          "          \"end\" : 0.9,\n"
                          "          \"start\" : 0.5,\n"
                          "          \"word\" : \"hello\"\n"
                          "        },\n"),
            std::string::npos)
      << document;
  const json parsed = json::parse(result.out);
  for (const json& segment : parsed["segments"]) {
    std::string joined;
    for (const json& w : segment["words"]) joined += " " + w["word"].get<std::string>();
    EXPECT_EQ(joined, segment["text"]);
  }
}

TEST_F(TranscribeWords, MaxSegmentCutsAtTheLongestPause) {
  ToolRun result = run(withWords(), {"--max-segment", "10", "--words"});
  ASSERT_EQ(result.status, 0) << result.err;
  json segments = json::parse(result.out)["segments"];
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[1]["text"], " the boats drift");
  EXPECT_EQ(segments[1]["start"], 2);
  EXPECT_EQ(segments[1]["end"], 4);
  EXPECT_EQ(segments[2]["text"], " and the river runs on");
  EXPECT_EQ(segments[2]["start"], 7);
  EXPECT_EQ(segments[2]["words"].size(), 5u);
  // The transcript is the same text.
  EXPECT_EQ(json::parse(result.out)["transcript"], "hello there the boats drift and the river runs on");

  ToolRun withoutWords = run(withWords(), {"--max-segment", "10"});
  ASSERT_EQ(withoutWords.status, 0) << withoutWords.err;
  EXPECT_EQ(json::parse(withoutWords.out)["segments"].size(), 3u);
  EXPECT_EQ(pinned(withoutWords.out).find("words"), std::string::npos);
}

TEST_F(TranscribeWords, TextFormatsArePinned) {
  struct Case {
    std::string format;
    std::string text;
  };
  for (const Case& c : {
           Case{"txt", "hello there\nthe boats drift and the river runs on\n"},
           Case{"srt",
                "1\n00:00:00,500 --> 00:00:04,000\nhello there the boats drift\n\n"
                "2\n00:00:07,000 --> 00:00:14,000\nand the river runs on\n\n"},
           Case{"vtt",
                "WEBVTT\n\n"
                "00:00:00.500 --> 00:00:04.000\nhello there the boats drift\n\n"
                "00:00:07.000 --> 00:00:14.000\nand the river runs on\n\n"},
       }) {
    ToolRun result = run(withWords(), {"--format", c.format});
    ASSERT_EQ(result.status, 0) << c.format << result.err;
    EXPECT_EQ(result.out, c.text) << c.format;
    EXPECT_EQ(logEvents(result).back(), "transcribe.done") << c.format;
  }
}

TEST_F(TranscribeWords, SubtitlesWithoutWordTimesSpreadTheText) {
  json scenario = withWords();
  for (auto& result : scenario["analyzer"]["results"]) result.erase("words");
  ToolRun result = run(scenario, {"--format", "srt"});
  ASSERT_EQ(result.status, 0) << result.err;
  // The second segment's words share its 12 s by their lengths, so "drift"
  // ends at 2 + 15 of its 38 characters' time.
  EXPECT_EQ(lines(result.out)[1], "00:00:00,500 --> 00:00:06,737");
  EXPECT_EQ(lines(result.out)[2], "hello there the boats drift");
}

TEST_F(TranscribeWords, BadFlagsAndFailuresStayErrorDocuments) {
  expectFailure(run(withWords(), {"--format", "docx"}), "usage", "--format takes json, srt, vtt or txt");
  expectFailure(run(withWords(), {"--format"}), "usage", "--format takes json, srt, vtt or txt");
  for (const char* seconds : {"0", "-3", "ten", "nan", "1e999"}) {
    expectFailure(run(withWords(), {"--max-segment", seconds}), "usage",
                  "--max-segment takes a number of seconds above 0");
  }
  json broken = withWords();
  broken["analyzer"]["analyzeError"] = "decoder broke";
  expectFailure(run(broken, {"--format", "srt"}), "analyze-failed", "analyzeSequence\\/finalize threw",
                "decoder broke");
}

}  // namespace
}  // namespace tolva::test
