// The decoder's spelling of words against the text results carry: no
// pronunciation variants, no fillers, a space before every word.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sphinx/decoder/hypothesis_text.hpp"

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

}  // namespace
}  // namespace tolva::sphinx
