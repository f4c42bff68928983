#pragma once
// Decoding one utterance of file analysis whole, its cepstral mean taken over
// the utterance itself. The result depends on the utterance alone, never on
// what the decoder did before, so utterances may be decoded by any decoder in
// any order.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/speech.hpp"
#include "platform/sphinx/analysis/utterance_splitter.hpp"
#include "platform/sphinx/decoder/decoder.hpp"
#include "platform/sphinx/decoder/result_text_style.hpp"

namespace tolva::sphinx {

// What a result carries beyond its text and range.
struct ResultDetail {
  bool alternatives = false;  // the number of distinct n-best texts (at most maxAlternatives)
  bool wordTimings = false;   // each word with its times and posterior
};

// What the decoder makes of one utterance, its frames counted from the
// utterance's start.
struct UtteranceWords {
  std::vector<TimedWord> words;
  std::int64_t alternatives = 0;  // when asked for
};

// Decodes `samples`, a whole utterance. Throws PlatformError; the decoder is
// then in an unknown state.
UtteranceWords decodeWords(Decoder& decoder, std::span<const std::int16_t> samples, bool alternatives);

// The final result of the utterance, timed in seconds from the start of the
// audio, or nothing when it holds no words. `writeText` makes the result's
// text.
std::optional<TranscriberResult> utteranceResult(const Utterance& utterance, UtteranceWords decoded,
                                                 ResultDetail detail, const ResultTextWriter& writeText);

}  // namespace tolva::sphinx
