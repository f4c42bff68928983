#pragma once
// Sentences: a result is one sentence, or several where a long enough pause
// falls between two words. Each sentence begins with a capital and ends with
// a period, or with a question mark when it is a question: when it starts
// with a question word ("what", "why"; "how", "when" and "where" before a
// verb), or with an auxiliary before a subject ("can you", "did we", "is
// it", "would you").

#include <string>
#include <vector>

#include "text/written_text.hpp"

namespace tolva::text {

// Whether the spoken words of one sentence ask a question.
bool isQuestion(const std::vector<std::string>& sentence);

void writeSentenceMarks(std::vector<WrittenToken>& tokens, const std::vector<SpokenWord>& words,
                        const WrittenTextSettings& settings);

}  // namespace tolva::text
