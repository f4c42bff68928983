// Written text on the real engine: transcribe and listen replay of generated
// sentences give written text, TOLVA_SPEECH_TEXT=raw gives the recognizer's
// words exactly as before, and nothing but the texts differs between them.
// Festival and the recognizer are deterministic, so the sentences below are
// recognised the same way on every run.
#include <gtest/gtest.h>

#include <fstream>

#include "support/documents.hpp"
#include "support/librivox_clips.hpp"
#include "support/listen_process.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class WrittenTextE2e : public testing::Test {
 protected:
  // A sentence spoken by Festival's slt voice into a WAV file (espeak-ng's
  // voices are recognised too poorly to check written text on).
  fs::path speak(const std::string& name, const std::string& sentence) {
    fs::path text = dir.path() / (name + ".txt");
    std::ofstream(text) << sentence << "\n";
    fs::path path = dir.path() / (name + ".wav");
    std::string command = "text2wave -eval '(voice_cmu_us_slt_arctic_hts)' '" + text.string() + "' -o '" +
                          path.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path;
  }

  json transcribe(const fs::path& path, const std::string& textStyle, ToolRun* full = nullptr) {
    ToolOptions options;
    options.env["XDG_DATA_HOME"] = (dir.path() / "data").string();
    options.env["TOLVA_SPEECH_TEXT"] = textStyle;
    ToolRun run = runTool(TOLVA_BINARY, {"transcribe", path.string(), "--locale", "en-US"}, options);
    EXPECT_EQ(run.status, 0) << run.err;
    if (full) *full = run;
    return json::parse(run.out);
  }

  TempDir dir;
};

// A transcribe document without its texts and its timing of the run.
json withoutTexts(json document) {
  for (const char* key : {"transcript", "processingTimeMs", "_realtimeFactor"}) document.erase(key);
  for (json& segment : document["segments"]) segment.erase("text");
  return document;
}

// The segments' texts of today's main (before written text), one line per
// segment and a blank line after each clip's, captured with its binary.
std::vector<std::vector<std::string>> todaysSegmentTexts() {
  std::ifstream in(fs::path(TOLVA_SOURCE_DIR) / "tests/e2e/data/librivox_raw_segments.txt");
  std::vector<std::vector<std::string>> clips(1);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) {
      clips.emplace_back();
    } else {
      clips.back().push_back(line);
    }
  }
  if (clips.back().empty()) clips.pop_back();
  return clips;
}

TEST_F(WrittenTextE2e, RawTextIsTodaysWordsByteForByteOnTheLibrivoxClips) {
  std::vector<std::vector<std::string>> today = todaysSegmentTexts();
  ASSERT_EQ(today.size(), librivoxClipNumbers().size());
  for (std::size_t clip = 0; clip < today.size(); ++clip) {
    const std::string& name = librivoxClipNumbers()[clip];
    json raw = transcribe(librivoxClip(name), "raw");
    json written = transcribe(librivoxClip(name), "formatted");
    ASSERT_EQ(raw["segments"].size(), today[clip].size()) << name;
    ASSERT_EQ(written["segments"].size(), today[clip].size()) << name;
    std::string joined;
    for (std::size_t i = 0; i < today[clip].size(); ++i) {
      const json& segment = raw["segments"][i];
      // Lines keep the text's leading space.
      EXPECT_EQ(segment["text"], today[clip][i]) << name;
      joined += segment["text"].get<std::string>();
      // Only the text differs: the same times, and the same words.
      EXPECT_EQ(written["segments"][i]["start"], segment["start"]) << name;
      EXPECT_EQ(written["segments"][i]["end"], segment["end"]) << name;
      std::string text = written["segments"][i]["text"];
      EXPECT_EQ(wordsOf(text), wordsOf(segment["text"])) << name << text;
      ASSERT_GE(text.size(), 3u);
      EXPECT_EQ(text[0], ' ');
      EXPECT_TRUE(std::isupper(static_cast<unsigned char>(text[1]))) << text;
      EXPECT_TRUE(text.back() == '.' || text.back() == '?') << text;
    }
    EXPECT_EQ(raw["transcript"], joined.substr(1)) << name;
  }
}

TEST_F(WrittenTextE2e, TranscribeWritesGeneratedSentences) {
  struct Case {
    const char* spoken;
    const char* raw;
    const char* written;
  };
  for (const Case& c : {
           Case{"I will send you the report on Monday at three thirty.",
                "i will send you the report on monday at three thirty",
                "I will send you the report on Monday at 3:30."},
           Case{"Can you tell me before the meeting?", "can you tell me before the meeting",
                "Can you tell me before the meeting?"},
           Case{"It costs twenty five dollars.", "it costs twenty five dollars", "It costs $25."},
       }) {
    fs::path audio = speak("sentence", c.spoken);
    json raw = transcribe(audio, "raw");
    json written = transcribe(audio, "formatted");
    EXPECT_EQ(raw["transcript"], c.raw) << c.spoken;
    EXPECT_EQ(written["transcript"], c.written) << c.spoken;
    ASSERT_EQ(written["segments"].size(), raw["segments"].size()) << c.spoken;
    EXPECT_EQ(withoutTexts(written), withoutTexts(raw)) << "the document differs only in its texts";
  }
}

TEST_F(WrittenTextE2e, AnUnknownStyleIsLoggedAndGivesWrittenText) {
  fs::path audio = speak("question", "Can you tell me before the meeting?");
  ToolRun run;
  json written = transcribe(audio, "fancy", &run);
  EXPECT_EQ(written["transcript"], "Can you tell me before the meeting?");
  json line = logEvent(run, "speech.textIgnored");
  EXPECT_EQ(line["variable"], "TOLVA_SPEECH_TEXT");
  EXPECT_EQ(line["value"], "fancy");
  EXPECT_EQ(line["text"], "formatted");
  ToolRun plain;
  EXPECT_EQ(transcribe(audio, "", &plain)["transcript"], "Can you tell me before the meeting?");
  for (const std::string& event : logEvents(plain)) EXPECT_NE(event, "speech.textIgnored");
}

TEST_F(WrittenTextE2e, ListenReplayWritesFinalsAndVolatiles) {
  fs::path audio = speak("dictation", "I will send you the report on Monday at three thirty.");
  for (const char* style : {"formatted", "raw"}) {
    ListenProcess listen(TOLVA_BINARY,
                         {{"XDG_DATA_HOME", (dir.path() / "data").string()}, {"TOLVA_SPEECH_TEXT", style}});
    listen.awaitEvent("ready");
    listen.send(json{{"cmd", "start"}, {"locale", "en-US"}, {"replay", audio.string()}}.dump());
    json ended = listen.awaitEvent("session-ended", std::chrono::seconds(60));
    std::string finals;
    for (const json& f : listen.sessionEvents(1, "final")) finals += f.value("text", "");
    bool formatted = std::string(style) == "formatted";
    EXPECT_EQ(finals, formatted ? " I will send you the report on Monday at 3:30."
                                : " i will send you the report on monday at three thirty")
        << style;
    std::vector<json> volatiles = listen.sessionEvents(1, "volatile");
    EXPECT_FALSE(volatiles.empty());
    for (const json& v : volatiles) {
      std::string text = v.value("text", "");
      ASSERT_GE(text.size(), 2u);
      EXPECT_EQ(std::isupper(static_cast<unsigned char>(text[1])) != 0, formatted) << text;
      char last = text.back();
      EXPECT_EQ(last == '.' || last == '?', formatted) << text;
    }
    listen.send(R"({"cmd":"quit"})");
    EXPECT_EQ(listen.waitExit(), 0);
  }
}

}  // namespace
}  // namespace tolva::test
