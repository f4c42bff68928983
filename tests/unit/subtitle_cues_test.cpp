#include "text/subtitle_cues.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "locale/graphemes.hpp"

namespace tolva::text {
namespace {

// Words of `text`, each `seconds` long, one after another with no pause;
// "|" marks a pause of `pause` seconds before the next word.
std::vector<CueWord> spoken(const std::string& text, double seconds = 0.3, double pause = 0.8) {
  std::vector<CueWord> words;
  std::istringstream stream(text);
  double at = 0;
  for (std::string token; stream >> token;) {
    if (token == "|") {
      at += pause;
      continue;
    }
    words.push_back({token, at, at + seconds, false});
    at += seconds;
  }
  return words;
}

std::string cueText(const Cue& cue) {
  std::string text;
  for (const std::string& line : cue.lines) text += (text.empty() ? "" : " ") + line;
  return text;
}

// The rules every cut must keep, whatever the words.
void expectWithinLimits(const std::vector<CueWord>& words, const std::vector<Cue>& cues, const CueLimits& limits) {
  std::string all;
  for (const CueWord& word : words) all += (all.empty() ? "" : " ") + word.text;
  std::string cut;
  for (std::size_t i = 0; i < cues.size(); ++i) {
    const Cue& cue = cues[i];
    EXPECT_LT(cue.startMs, cue.endMs) << i;
    EXPECT_LE(cue.endMs - cue.startMs, static_cast<std::int64_t>(limits.maxSeconds * 1000)) << i;
    if (i > 0) {
      EXPECT_LE(cues[i - 1].endMs, cue.startMs) << i;
    }
    EXPECT_GE(cue.lines.size(), 1u);
    EXPECT_LE(cue.lines.size(), limits.lines) << i;
    for (const std::string& line : cue.lines) EXPECT_LE(graphemeCount(line), limits.lineChars) << line;
    cut += (cut.empty() ? "" : " ") + cueText(cue);
  }
  EXPECT_EQ(cut, all);  // every word once, in order, never cut
}

TEST(SubtitleCues, LongRunningSpeechKeepsEveryLimit) {
  std::string text;
  const char* vocabulary[] = {"the", "extraordinary", "boat",   "drifted,", "slowly", "and", "quietly", "down",
                              "to",  "the",           "river.", "Then",     "nobody", "|",   "spoke",   "again",
                              "for", "hours"};
  for (int i = 0; i < 400; ++i) text += std::string(vocabulary[(i * 7) % 18]) + " ";
  for (double seconds : {0.1, 0.3, 0.9}) {
    std::vector<CueWord> words = spoken(text, seconds);
    for (CueLimits limits : {CueLimits{}, CueLimits{.lineChars = 32, .lines = 1}, CueLimits{.lines = 3}}) {
      std::vector<Cue> cues = subtitleCues(words, limits);
      expectWithinLimits(words, cues, limits);
    }
  }
}

TEST(SubtitleCues, CutsWhereSpeechBreaks) {
  struct Case {
    const char* name;
    std::string text;
    std::string firstCue;
  };
  for (const Case& c : {
           Case{"sentence end", "we walked along the shore. After a while the rain came down on all of us again today",
                "we walked along the shore."},
           Case{"pause", "we walked along the shore | after a while the rain came down on all of us again today",
                "we walked along the shore"},
           Case{"comma", "we walked along the shore, after a while the rain came down on all of us again today",
                "we walked along the shore,"},
           Case{"conjunction",
                "we walked along the sunny shore and after a while the rain came down heavily upon us all",
                "we walked along the sunny shore"},
       }) {
    // Half a second a word: the 17 words need two cues.
    std::vector<Cue> cues = subtitleCues(spoken(c.text, 0.5));
    ASSERT_GE(cues.size(), 2u) << c.name;
    EXPECT_EQ(cueText(cues[0]), c.firstCue) << c.name;
  }
}

TEST(SubtitleCues, SegmentEndsAreCutsToo) {
  std::vector<CueWord> words =
      spoken("we walked along the shore after a while the rain came down on us all again", 0.5);
  words[4].endsSegment = true;
  EXPECT_EQ(cueText(subtitleCues(words)[0]), "we walked along the shore");
}

TEST(SubtitleCues, TwoLinesAreBalanced) {
  std::vector<Cue> cues = subtitleCues(spoken("one two three four five six seven eight nine ten eleven", 0.2));
  ASSERT_EQ(cues.size(), 1u);
  EXPECT_EQ(cues[0].lines, (std::vector<std::string>{"one two three four five six", "seven eight nine ten eleven"}));
}

TEST(SubtitleCues, AWordTooLongForALineStandsAlone) {
  std::string giant(50, 'x');
  std::vector<Cue> cues = subtitleCues(spoken("a " + giant + " b"));
  ASSERT_EQ(cues.size(), 3u);
  EXPECT_EQ(cues[1].lines, std::vector<std::string>{giant});
}

TEST(SubtitleCues, TimesStayOrderedAndShortCuesStayUpWhileThereIsRoom) {
  // Overlapping word times from a confused recogniser, and instant words,
  // each word a cue of its own.
  std::vector<CueWord> words{{"one.", 1.0, 1.2, false}, {"two.", 1.1, 1.1, false}, {"three.", 5.0, 5.0, false}};
  CueLimits oneWordALine{.lineChars = 6, .lines = 1};
  std::vector<Cue> cues = subtitleCues(words, oneWordALine);
  expectWithinLimits(words, cues, oneWordALine);
  ASSERT_EQ(cues.size(), 3u);
  EXPECT_EQ(cues[2].startMs, 5000);
  EXPECT_EQ(cues[2].endMs, 6000);  // the shortest time on screen
  EXPECT_EQ(cues[1].startMs, 1200);
  EXPECT_EQ(cues[1].endMs, 2200);
}

TEST(SubtitleCues, NoWordsNoCues) { EXPECT_TRUE(subtitleCues({}).empty()); }

TEST(SubtitleCues, CueLinesRefuseWhatDoesNotFit) {
  std::vector<CueWord> words = spoken(std::string(30, 'a') + " " + std::string(30, 'b') + " " + std::string(30, 'c'));
  EXPECT_TRUE(cueLines(words, 0, 2, {}).empty());
  EXPECT_EQ(cueLines(words, 0, 1, {}).size(), 2u);
  EXPECT_TRUE(cueLines(words, 2, 1, {}).empty());
}

}  // namespace
}  // namespace tolva::text
