#include "text/written_text.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "text/casing_lexicon.hpp"
#include "text/sentence_marks.hpp"
#include "text/spoken_numbers.hpp"

namespace tolva::text {
namespace {

// Spoken words from "word word | word": words 0.3 s long, 0.1 s apart, and a
// second's pause at each "|".
std::vector<SpokenWord> spokenLine(const std::string& line) {
  std::vector<SpokenWord> words;
  std::istringstream in(line);
  double at = 0;
  for (std::string word; in >> word;) {
    if (word == "|") {
      at += 1.0;
      continue;
    }
    words.push_back({word, at, at + 0.3});
    at += 0.4;
  }
  return words;
}

std::string written(const std::string& line) { return joinTokens(writeText(spokenLine(line))); }

struct Case {
  const char* spoken;
  const char* written;
};

void expectWritten(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(written(c.spoken), c.written) << c.spoken;
}

TEST(WrittenText, TheIssuesExample) {
  expectWritten({{"i will send you the report on monday at three thirty | can you call john before the meeting",
                  "I will send you the report on Monday at 3:30. Can you call john before the meeting?"}});
}

TEST(WrittenText, SentencesBeginWithACapitalAndEndWithAMark) {
  expectWritten({
      {"hello", "Hello."},
      {"the car needs an oil change", "The car needs an oil change."},
      {"thank you | see you tomorrow", "Thank you. See you tomorrow."},
      {"can you call me", "Can you call me?"},
      {"did we win", "Did we win?"},
      {"is it raining", "Is it raining?"},
      {"would you like some tea", "Would you like some tea?"},
      {"what time is it", "What time is it?"},
      {"why not", "Why not?"},
      {"how many eggs do we need", "How many eggs do we need?"},
      {"where is the station", "Where is the station?"},
      {"when you get home call me", "When you get home call me."},
      {"can", "Can."},
      {"please call me | where are you", "Please call me. Where are you?"},
      {"i can call you", "I can call you."},
      {"will is here", "Will is here."},
  });
}

TEST(WrittenText, ShortPausesDoNotEndASentence) {
  // 0.1 s between words, and a pause just below the threshold.
  std::vector<SpokenWord> words{{"we", 0, 0.3}, {"left", 0.4, 0.7}, {"early", 0.7 + 0.39, 1.4}};
  EXPECT_EQ(joinTokens(writeText(words, {.sentencePauseSeconds = 0.4})), "We left early.");
  EXPECT_EQ(joinTokens(writeText(words, {.sentencePauseSeconds = 0.3})), "We left. Early.");
}

TEST(WrittenText, CapitalsInsideASentence) {
  expectWritten({
      {"i think i'm late and i'll call when i've i'd", "I think I'm late and I'll call when I've I'd."},
      {"see you on tuesday or saturday", "See you on Tuesday or Saturday."},
      {"mondays are long", "Mondays are long."},
      {"we met in january and july", "We met in January and July."},
      {"i will bill you in may", "I will bill you in May."},
      {"may i ask", "May I ask?"},
      {"this may take a while", "This may take a while."},
      {"they march in march", "They march in March."},
      {"next august we travel", "Next August we travel."},
      {"an august institution", "An august institution."},
      {"we flew to paris and london", "We flew to Paris and London."},
      {"mark and rose will sue jack", "Mark and rose will sue jack."},
      {"mister johnson called", "Mr. Johnson called."},
      {"mrs johnson's order is ready", "Mrs. Johnson's order is ready."},
      {"the doctor said so", "The doctor said so."},
      {"they speak english", "They speak English."},
  });
}

TEST(WrittenText, Cardinals) {
  expectWritten({
      {"twenty five people came", "25 people came."},
      {"three hundred and twelve", "312."},
      {"two thousand five hundred", "2,500."},
      {"a hundred", "100."},
      {"ten", "10."},
      {"one of them", "One of them."},
      {"we have two cats", "We have two cats."},
      {"we have three days left", "We have 3 days left."},
      {"it took five minutes", "It took 5 minutes."},
      {"one day we will", "One day we will."},
      {"about ten minutes late", "About 10 minutes late."},
      {"one two three", "One two three."},
      {"five ten", "Five 10."},
      {"zero", "Zero."},
      {"twenty-five", "25."},
      {"one hundred thousand", "100,000."},
  });
}

TEST(WrittenText, Times) {
  expectWritten({
      {"see you at three thirty", "See you at 3:30."},
      {"be back by four fifteen", "Be back by 4:15."},
      {"until ten oh five", "Until 10:05."},
      {"at four", "At 4."},
      {"at four p m", "At 4 PM."},
      {"meet at four thirty pm", "Meet at 4:30 PM."},
      {"it starts at nine a.m.", "It starts at 9 AM."},
      {"half past six", "6:30."},
      {"a quarter to six", "A 5:45."},
      {"at five o'clock", "At 5 o'clock."},
      {"at one point", "At one point."},
      {"at two of them", "At two of them."},
      {"three thirty", "Three 30."},
  });
}

TEST(WrittenText, AmountsDatesAndYears) {
  expectWritten({
      {"it costs twenty dollars", "It costs $20."},
      {"five dollars and fifty cents", "$5.50."},
      {"one dollar", "$1."},
      {"a thousand dollars", "$1,000."},
      {"fifteen percent", "15%."},
      {"five percent", "5%."},
      {"march third", "March 3."},
      {"on the twenty first of june", "On June 21."},
      {"march the third", "March 3."},
      {"june twenty one", "June 21."},
      {"may one ask", "May one ask?"},
      {"in nineteen ninety nine", "In 1999."},
      {"in twenty twenty six", "In 2026."},
      {"nineteen oh five", "1905."},
      {"the twenty first century", "The 21st century."},
      {"he came first", "He came first."},
      {"the third time", "The third time."},
  });
}

TEST(WrittenText, TokensNameTheWordsTheyStandFor) {
  std::vector<WrittenToken> tokens = writeText(spokenLine("at four thirty p m"));
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0].text, "At");
  EXPECT_EQ(tokens[1].text, "4:30");
  EXPECT_EQ(tokens[1].firstWord, 1u);
  EXPECT_EQ(tokens[1].lastWord, 2u);
  EXPECT_EQ(tokens[2].text, "PM.");
  EXPECT_EQ(tokens[2].firstWord, 3u);
  EXPECT_EQ(tokens[2].lastWord, 4u);
  EXPECT_TRUE(writeText({}).empty());
}

TEST(WrittenText, EveryWordBelongsToExactlyOneTokenInOrder) {
  for (const char* line : {"on the twenty first of june at half past six we paid five dollars and fifty cents",
                           "i | i | may | ten ten ten", "a a hundred hundred and and"}) {
    std::vector<SpokenWord> words = spokenLine(line);
    std::size_t next = 0;
    for (const WrittenToken& token : writeText(words)) {
      EXPECT_EQ(token.firstWord, next) << line;
      EXPECT_GE(token.lastWord, token.firstWord) << line;
      next = token.lastWord + 1;
    }
    EXPECT_EQ(next, words.size()) << line;
  }
}

TEST(SpokenNumbers, ReadsTheLongestNumber) {
  struct NumberCase {
    const char* words;
    std::int64_t value;
    std::size_t length;
    bool ordinal;
  };
  for (const NumberCase& c : std::initializer_list<NumberCase>{
           {"twenty five", 25, 2, false},
           {"nineteen hundred", 1900, 2, false},
           {"twenty five hundred", 2500, 3, false},
           {"three hundred and twelve apples", 312, 4, false},
           {"two thousand and five", 2005, 4, false},
           {"one million two hundred thousand", 1200000, 5, false},
           {"twenty first", 21, 2, true},
           {"one hundredth", 100, 2, true},
           {"five six", 5, 1, false},
           {"twenty thirty", 20, 1, false},
           {"three hundred and", 300, 2, false},
       }) {
    std::vector<std::string> words;
    std::istringstream in(c.words);
    for (std::string w; in >> w;) words.push_back(w);
    std::optional<SpokenNumber> n = readNumber(words, 0);
    ASSERT_TRUE(n) << c.words;
    EXPECT_EQ(n->value, c.value) << c.words;
    EXPECT_EQ(n->length, c.length) << c.words;
    EXPECT_EQ(n->ordinal, c.ordinal) << c.words;
  }
  EXPECT_FALSE(readNumber({"hundred"}, 0));
  EXPECT_FALSE(readNumber({"and", "five"}, 0));
  EXPECT_EQ(ordinalDigits(11), "11th");
  EXPECT_EQ(ordinalDigits(22), "22nd");
  EXPECT_EQ(ordinalDigits(113), "113th");
  EXPECT_EQ(groupedDigits(1234567), "1,234,567");
}

TEST(CasingLexicon, HoldsNamesAndNoCommonWords) {
  struct LexiconCase {
    const char* word;
    std::optional<std::string> written;
  };
  for (const LexiconCase& c : std::initializer_list<LexiconCase>{{"paris", "Paris"},
                                                                 {"johnson", "Johnson"},
                                                                 {"johnson's", "Johnson's"},
                                                                 {"bill", std::nullopt},
                                                                 {"will", std::nullopt},
                                                                 {"the", std::nullopt},
                                                                 {"", std::nullopt},
                                                                 {"zzzz", std::nullopt}}) {
    EXPECT_EQ(lexiconCasing(c.word), c.written) << c.word;
  }
  EXPECT_GT(casingLexiconSize, 5000u);
}

TEST(SentenceMarks, Questions) {
  EXPECT_TRUE(isQuestion({"could", "you", "please", "help"}));
  EXPECT_TRUE(isQuestion({"how", "do", "i", "get", "there"}));
  EXPECT_FALSE(isQuestion({"how", "nice"}));
  EXPECT_FALSE(isQuestion({"you", "can", "go"}));
  EXPECT_FALSE(isQuestion({"what"}));
}

}  // namespace
}  // namespace tolva::text
