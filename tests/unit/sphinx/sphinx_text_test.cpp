// The decoder's spelling of words against the text results carry: no
// pronunciation variants, no fillers, a space before every word.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sphinx/decoder/hypothesis_text.hpp"
#include "platform/sphinx/decoder/result_text_style.hpp"

namespace tolva::sphinx {
namespace {

TEST(SphinxText, ReadableTextDropsFillersAndVariants) {
  struct Case {
    std::string hypothesis;
    std::string readable;
  };
  for (const Case& c : std::vector<Case>{
           {"<s> and(2) mister john </s>", "and mister john"},
           {"[NOISE] hello <sil> world(12) [SPEECH]", "hello world"},
           {"++BREATH++ i'm here", "i'm here"},
           {"<s> <sil> </s>", ""},
           {"", ""},
           {"f(x) a(b2) (2) to(3)", "f(x) a(b2) (2) to"},
       }) {
    EXPECT_EQ(readableText(c.hypothesis), c.readable) << c.hypothesis;
  }
}

TEST(SphinxText, FillerAndBaseWordTable) {
  for (const char* filler : {"<s>", "</s>", "<sil>", "[NOISE]", "[SPEECH]", "++UM++", ""}) {
    EXPECT_TRUE(isFillerWord(filler)) << filler;
  }
  for (const char* word : {"s", "<", "[", "a[b]", "+1", "mr."}) EXPECT_FALSE(isFillerWord(word)) << word;
  EXPECT_EQ(baseWord("and(2)"), "and");
  EXPECT_EQ(baseWord("read(10)"), "read");
  EXPECT_EQ(baseWord("(2)"), "(2)");
  EXPECT_EQ(baseWord("x()"), "x()");
}

TEST(SphinxText, ResultTextPutsASpaceBeforeEveryWord) {
  EXPECT_EQ(resultText({}), "");
  EXPECT_EQ(resultText({{"he", 0, 10}, {"was", 10, 20}}), " he was");
  // Results joined without a separator read as running text.
  EXPECT_EQ(resultText({{"one", 0, 1}}) + resultText({{"two", 5, 9}}), " one two");
}

TEST(SphinxText, EachStyleWritesTheSameWords) {
  // "at three thirty" with 0.5 s before "can": two sentences when written.
  std::vector<TimedWord> words{{"at", 0, 20},     {"three", 20, 50}, {"thirty", 50, 90},
                               {"can", 140, 160}, {"you", 160, 180}, {"come", 180, 200}};
  ResultTextWriter raw(TextStyle::raw, {});
  EXPECT_EQ(raw(words), resultText(words));
  EXPECT_EQ(ResultTextWriter()(words), resultText(words));
  EXPECT_EQ(ResultTextWriter(TextStyle::formatted, {})(words), " At 3:30. Can you come?");
  EXPECT_EQ(ResultTextWriter(TextStyle::formatted, {.sentencePauseSeconds = 0.6})(words), " At 3:30 can you come.");
  EXPECT_EQ(ResultTextWriter(TextStyle::timedWords, {})({{"at", 0, 20}, {"four", 25, 50}}), " at@0-20 four@25-50");
  for (TextStyle style : {TextStyle::raw, TextStyle::formatted, TextStyle::timedWords}) {
    EXPECT_EQ(ResultTextWriter(style, {})({}), "");
  }
  std::vector<text::SpokenWord> spoken = spokenWords({{"at", 150, 175}});
  EXPECT_DOUBLE_EQ(spoken[0].start, 1.5);
  EXPECT_DOUBLE_EQ(spoken[0].end, 1.75);
}

TEST(SphinxText, WrittenWordsSpanTheirSpokenWords) {
  std::vector<TimedWord> words{{"at", 0, 20}, {"three", 20, 50}, {"thirty", 50, 90}, {"can", 140, 160}};
  std::vector<WordTiming> timings{
      {"at", 0.0, 0.2, 0.9}, {"three", 0.2, 0.5, 0.7}, {"thirty", 0.5, 0.9, 0.4}, {"can", 1.4, 1.6, 0.8}};
  ResultTextWriter formatted(TextStyle::formatted, {});
  std::vector<WordTiming> written = formatted.writtenWords(words, timings);
  // "3:30." takes the start of "three", the end of "thirty" and the lower
  // confidence of the two.
  EXPECT_EQ(written, (std::vector<WordTiming>{
                         {"At", 0.0, 0.2, 0.9}, {"3:30.", 0.2, 0.9, 0.4}, {"Can.", 1.4, 1.6, 0.8}}));
  std::string joined;
  for (const WordTiming& w : written) joined += ' ' + w.word;
  EXPECT_EQ(joined, formatted(words));
  // Raw text, or timings that do not match the words, are left as they are.
  EXPECT_EQ(ResultTextWriter(TextStyle::raw, {}).writtenWords(words, timings), timings);
  std::vector<WordTiming> fewer(timings.begin(), timings.begin() + 2);
  EXPECT_EQ(formatted.writtenWords(words, fewer), fewer);
}

TEST(SphinxText, TheVariableChoosesTheStyle) {
  struct Case {
    const char* value;
    TextStyle style;
  };
  for (const Case& c :
       {Case{"raw", TextStyle::raw}, Case{"formatted", TextStyle::formatted}, Case{"", TextStyle::formatted},
        Case{"RAW", TextStyle::formatted}, Case{"timed", TextStyle::formatted}, Case{" raw", TextStyle::formatted}}) {
    setenv(textStyleVariable, c.value, 1);
    EXPECT_EQ(textStyleFromEnvironment(), c.style) << c.value;
  }
  unsetenv(textStyleVariable);
  EXPECT_EQ(textStyleFromEnvironment(), TextStyle::formatted);
  EXPECT_EQ(parseTextStyle("raw"), TextStyle::raw);
  EXPECT_EQ(parseTextStyle("timed"), std::nullopt);
  // A style in the settings wins over the environment.
  setenv(textStyleVariable, "formatted", 1);
  std::vector<TimedWord> words{{"hello", 0, 10}};
  EXPECT_EQ(resultTextWriter({.style = TextStyle::raw, .written = {}})(words), " hello");
  EXPECT_EQ(resultTextWriter({})(words), " Hello.");
  unsetenv(textStyleVariable);
}

}  // namespace
}  // namespace tolva::sphinx
