#include <gtest/gtest.h>

#include "app/entry.hpp"

namespace tolva {
namespace {

TEST(ParseFlag, FirstOccurrenceWithAFollowingElementWins) {
  using Args = std::vector<std::string>;
  struct Case {
    Args args;
    std::optional<std::string> expected;
  };
  for (const auto& c :
       {Case{{"probe"}, std::nullopt}, Case{{"transcribe", "a.wav", "--locale"}, std::nullopt},
        Case{{"transcribe", "a.wav", "--locale", "--auto-install"}, "--auto-install"},
        Case{{"probe", "--locale", "en-US", "--locale", "fr-FR"}, "en-US"}, Case{{"--locale", "x"}, "x"},
        Case{{"probe", "--Locale", "x"}, std::nullopt},
        // The joined form counts as the same flag, in the same first-occurrence scan.
        Case{{"probe", "--locale=en-US"}, "en-US"}, Case{{"probe", "--locale="}, ""},
        Case{{"probe", "--locale=a=b"}, "a=b"}, Case{{"probe", "--locale=en-US", "--locale", "fr"}, "en-US"},
        Case{{"probe", "--locale", "fr", "--locale=en-US"}, "fr"}, Case{{"probe", "--locales=x"}, std::nullopt},
        Case{{"probe", "--locale", "--locale=x"}, "--locale=x"}}) {
    EXPECT_EQ(parseFlag(c.args, "--locale"), c.expected) << testing::PrintToString(c.args);
  }
}

}  // namespace
}  // namespace tolva
