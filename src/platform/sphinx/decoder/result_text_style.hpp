#pragma once
// What text a result carries. The environment variable TOLVA_SPEECH_TEXT
// chooses it: "formatted" (or unset, or empty) gives written text, with
// capitals, sentence marks and numbers as digits (text/written_text.hpp);
// "raw" gives the recognizer's words as they are, lower case. Any other value
// gives written text and one log line ("speech.textIgnored").
//
// Thread contract: any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/speech.hpp"
#include "platform/sphinx/decoder/hypothesis_text.hpp"
#include "text/written_text.hpp"

namespace tolva::sphinx {

inline constexpr const char* textStyleVariable = "TOLVA_SPEECH_TEXT";

enum class TextStyle {
  raw,
  formatted,
  // Each word with its frames, " word@start-end", for the evaluation: it
  // writes the words again under other settings without decoding again.
  // Never chosen by the environment.
  timedWords,
};

// The style a value of the variable asks for: "raw" or "formatted".
std::optional<TextStyle> parseTextStyle(std::string_view value);

// The style from the environment; an invalid value is logged.
TextStyle textStyleFromEnvironment();

// The settings of result texts: a style that overrides the environment (the
// shipped binary sets none), and how written text is made.
struct ResultTextSettings {
  std::optional<TextStyle> style;
  text::WrittenTextSettings written;
};

// Makes the text of each result in one style.
class ResultTextWriter {
 public:
  ResultTextWriter() = default;  // raw
  ResultTextWriter(TextStyle style, text::WrittenTextSettings written) : style_(style), written_(written) {}

  // The text of a result of these words: a space before each written token,
  // so that consecutive results read as running text when concatenated;
  // empty when there are no words. The raw text is resultText(words).
  std::string operator()(const std::vector<TimedWord>& words) const;

  // The result's words as its text writes them: in written text each token
  // spans its spoken words (start of the first, end of the last, the lowest
  // confidence), so the words joined by spaces are the text. `timings` holds
  // one entry per decoder word.
  std::vector<WordTiming> writtenWords(const std::vector<TimedWord>& words, std::vector<WordTiming> timings) const;

 private:
  TextStyle style_ = TextStyle::raw;
  text::WrittenTextSettings written_;
};

// The writer for an analysis starting now: the settings' style, or the
// environment's.
ResultTextWriter resultTextWriter(const ResultTextSettings& settings);

// The spoken words of decoder words, timed in seconds.
std::vector<text::SpokenWord> spokenWords(const std::vector<TimedWord>& words);

}  // namespace tolva::sphinx
