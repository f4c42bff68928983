#pragma once
// Written text: the recognizer's lower-case words as a person writes them,
// with sentence capitals and marks, the capitals of names, days and months,
// and numbers as digits where dictation writes them so (English rules).
//
// The input is the recognized words with their times; the output is a list of
// written tokens, each naming the input words it stands for, so that word
// times can follow the written text. Marks belong to the token they follow:
// the tokens joined with single spaces are the written text.
//
// Pure logic: any thread.

#include <cstddef>
#include <string>
#include <vector>

namespace tolva::text {

struct SpokenWord {
  std::string text;  // as the recognizer spells it: lower case
  double start = 0;  // seconds
  double end = 0;
};

struct WrittenToken {
  std::string text;
  std::size_t firstWord = 0;  // inclusive indices into the spoken words
  std::size_t lastWord = 0;
};

struct WrittenTextSettings {
  // A pause between two words at least this long ends a sentence inside one
  // result. Chosen on the evaluation's dev half: the recognizer's results
  // already end at longer pauses, and shorter ones fall at commas as often
  // as at sentence ends.
  double sentencePauseSeconds = 0.4;
};

std::vector<WrittenToken> writeText(const std::vector<SpokenWord>& words, const WrittenTextSettings& settings = {});

// The tokens' texts joined with single spaces.
std::string joinTokens(const std::vector<WrittenToken>& tokens);

}  // namespace tolva::text
