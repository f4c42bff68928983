#pragma once
// Capitals inside a sentence:
//   - "I" and its contractions (I'm, I'll, I've, I'd);
//   - days of the week and months; "may", "march" and "august" only after a
//     word that makes them a month ("in May", "next August");
//   - names from the casing lexicon, which holds no word that is also a
//     common lower-case word ("bill", "will", "mark" stay as they are);
//   - titles before a name: "mister johnson" gives "Mr. Johnson".
// Only tokens that are still a spoken word as the recognizer spelled it are
// touched; numbers already written are left alone.

#include <string>
#include <vector>

#include "text/written_text.hpp"

namespace tolva::text {

void writeCapitals(std::vector<WrittenToken>& tokens, const std::vector<std::string>& words);

}  // namespace tolva::text
