// Word times, subtitles and segment limits of the shipped binary on real
// speech: a five-minute reading made of the librivox clips.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/documents.hpp"
#include "support/librivox_clips.hpp"
#include "support/subtitle_check.hpp"
#include "support/temp_dir.hpp"

namespace tolva::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

constexpr int readingRounds = 11;

class SubtitlesE2e : public testing::Test {
 protected:
  // The five clips, each followed by 0.7 s of silence, eleven times over
  // (5 min 10 s of speech with pauses between the sentences and none inside),
  // and once.
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    reading_ = joinedClips(readingRounds, "reading.wav");
    clips_ = joinedClips(1, "clips.wav");
  }

  static fs::path joinedClips(int rounds, const std::string& name) {
    fs::path silence = dir_->path() / "silence.wav";
    if (std::system(("sox -n -r 16000 -c 1 -b 16 " + silence.string() + " trim 0 0.7").c_str()) != 0) return {};
    std::string command = "sox";
    for (int round = 0; round < rounds; ++round) {
      for (const std::string& number : librivoxClipNumbers()) {
        command += " " + librivoxClip(number).string() + " " + silence.string();
      }
    }
    fs::path joined = dir_->path() / name;
    if (std::system((command + " " + joined.string()).c_str()) != 0) return {};
    return joined;
  }

  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static ToolRun transcribe(const fs::path& audio, const std::vector<std::string>& extra) {
    ToolOptions options;
    options.env["XDG_DATA_HOME"] = (dir_->path() / "data").string();
    // Five minutes decode in half a minute on an idle machine; a loaded one
    // may take far longer, and the test is not about speed.
    options.timeoutSeconds = 1800;
    std::vector<std::string> args{"transcribe", audio.string(), "--locale", "en-US"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runTool(TOLVA_BINARY, args, options);
  }

  // ffmpeg reads the file as subtitles without a word of complaint. Plain
  // `-f null -` maps no subtitle stream (ffmpeg 5 then fails on any file),
  // so each cue is decoded and encoded again as ASS.
  static void expectFfmpegReads(const fs::path& path) {
    fs::path errors = path.string() + ".ffmpeg";
    std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -i '" + path.string() +
                          "' -map 0:s -c:s ass -f null - 2> '" + errors.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << readText(errors);
    EXPECT_EQ(readText(errors), "");
  }

  static inline TempDir* dir_ = nullptr;
  static inline fs::path reading_;
  static inline fs::path clips_;
};

std::string cueWords(const std::vector<ParsedCue>& cues) {
  std::string text;
  for (const ParsedCue& cue : cues) {
    for (const std::string& line : cue.lines) text += " " + line;
  }
  return text;
}

TEST_F(SubtitlesE2e, SrtAndVttOfFiveMinutesKeepEveryRuleAndPlay) {
  ASSERT_FALSE(reading_.empty()) << "sox failed";
  ToolRun srt = transcribe(reading_, {"--format", "srt"});
  ASSERT_EQ(srt.status, 0) << srt.err;
  SubtitleCheck checked = checkSrt(srt.out);
  EXPECT_TRUE(checked.problems.empty()) << testing::PrintToString(checked.problems);
  ASSERT_GE(checked.cues.size(), 5u * readingRounds);
  EXPECT_GE(checked.cues.back().endMs, 25000 * readingRounds);
  fs::path srtFile = dir_->path() / "reading.srt";
  std::ofstream(srtFile) << srt.out;
  expectFfmpegReads(srtFile);

  ToolRun vtt = transcribe(reading_, {"--format", "vtt"});
  ASSERT_EQ(vtt.status, 0) << vtt.err;
  SubtitleCheck vttChecked = checkVtt(vtt.out);
  EXPECT_TRUE(vttChecked.problems.empty()) << testing::PrintToString(vttChecked.problems);
  fs::path vttFile = dir_->path() / "reading.vtt";
  std::ofstream(vttFile) << vtt.out;
  expectFfmpegReads(vttFile);
  // The same cues, and every recognised word in them once.
  EXPECT_EQ(cueWords(vttChecked.cues), cueWords(checked.cues));
  std::vector<std::string> words = wordsOf(cueWords(checked.cues));
  std::vector<std::string> reference;
  for (int round = 0; round < readingRounds; ++round) {
    for (const std::string& number : librivoxClipNumbers()) {
      for (const std::string& word : librivoxReference(number)) reference.push_back(word);
    }
  }
  EXPECT_LE(wordErrors(reference, words), reference.size() / 2);
}

TEST_F(SubtitlesE2e, WordsAndSegmentLimitOnRealSpeech) {
  ASSERT_FALSE(clips_.empty()) << "sox failed";
  ToolRun run = transcribe(clips_, {"--words", "--max-segment", "4"});
  ASSERT_EQ(run.status, 0) << run.err;
  json document = json::parse(run.out);
  double previousEnd = 0;
  int unsure = 0;
  for (const json& segment : document["segments"]) {
    double start = segment["start"], end = segment["end"];
    EXPECT_LE(end - start, 4.0 + 1e-9) << segment.dump();
    std::string joined;
    for (const json& word : segment["words"]) {
      joined += " " + word["word"].get<std::string>();
      double wordStart = word["start"], wordEnd = word["end"], confidence = word["confidence"];
      EXPECT_GE(wordStart, previousEnd) << word.dump();
      EXPECT_LT(wordStart, wordEnd) << word.dump();
      EXPECT_GE(wordStart, start);
      EXPECT_LE(wordEnd, end);
      EXPECT_GE(confidence, 0);
      EXPECT_LE(confidence, 1);
      if (confidence < 0.9) ++unsure;
      previousEnd = wordEnd;
    }
    EXPECT_EQ(joined, segment["text"]);
  }
  // The posteriors are read, not a constant.
  EXPECT_GT(unsure, 0);
}

}  // namespace
}  // namespace tolva::test
