#pragma once
// Words as the decoder spells them, and the text a user reads. The decoder
// marks pronunciation variants with a suffix ("and(2)") and writes silences and
// noises as bracketed fillers ("<s>", "</s>", "<sil>", "[NOISE]"); neither may
// reach a result.

#include <string>
#include <string_view>
#include <vector>

namespace tolva::sphinx {

// A recognised word with its frames (100 per second; end exclusive) and its
// posterior probability in the word lattice (1 when there is no lattice: a
// partial hypothesis, or a decoder without the best-path pass).
struct TimedWord {
  std::string text;
  int startFrame = 0;
  int endFrame = 0;
  double posterior = 1;
};

// Silences, noises and sentence marks: anything in <>, [] or ++.
bool isFillerWord(std::string_view word);

// The word without a pronunciation-variant suffix: "and(2)" gives "and".
std::string_view baseWord(std::string_view word);

// The readable words of a decoder hypothesis ("<s> and(2) then </s>" gives
// "and then"), single-spaced.
std::string readableText(std::string_view hypothesis);

// The text of a result: every word after one space, so that the texts of
// consecutive results read as running text when simply concatenated. Empty
// when there are no words.
std::string resultText(const std::vector<TimedWord>& words);

}  // namespace tolva::sphinx
