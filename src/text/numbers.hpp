#pragma once
// Numbers as dictation writes them (inverse text normalisation, by rules):
//   - cardinals from 10 up as digits, thousands grouped: "two thousand five
//     hundred" gives 2,500; ordinals from 10 up as 21st;
//   - two to nine as digits before a unit of time or measure ("3 days");
//     otherwise one to nine stay words;
//   - money ($20, $5.50), percentages (15%), times (at 3:30, 4 PM, 6:30 for
//     "half past six"), dates (March 3, June 21) and years (1999, 2026).
// A rule that is not sure leaves the words as they are.

#include <string>
#include <vector>

#include "text/written_text.hpp"

namespace tolva::text {

// One token per spoken word, except where numbers are written: there one
// token spans the words it replaces. Words left alone keep their text.
std::vector<WrittenToken> writeNumbers(const std::vector<std::string>& words);

}  // namespace tolva::text
