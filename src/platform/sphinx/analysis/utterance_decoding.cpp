#include "platform/sphinx/analysis/utterance_decoding.hpp"

#include <algorithm>

#include "platform/sphinx/analysis/result_sink.hpp"

namespace tolva::sphinx {
namespace {

constexpr std::int64_t samplesPerFrame = Decoder::sampleRate / Decoder::framesPerSecond;

double secondsAt(std::int64_t sample) { return static_cast<double>(sample) / Decoder::sampleRate; }

}  // namespace

UtteranceWords decodeWords(Decoder& decoder, std::span<const std::int16_t> samples, bool alternatives) {
  decoder.beginAnalysis();  // frames count from the utterance's start
  decoder.startUtterance();
  decoder.process(samples, true);
  decoder.endUtterance();
  UtteranceWords decoded;
  decoded.words = decoder.words();
  if (alternatives && !decoded.words.empty()) {
    decoded.alternatives = decoder.alternativesCount(decoded.words, maxAlternatives);
  }
  return decoded;
}

std::optional<TranscriberResult> utteranceResult(const Utterance& utterance, UtteranceWords decoded,
                                                 ResultDetail detail, const ResultTextWriter& writeText) {
  std::vector<TimedWord>& words = decoded.words;
  if (words.empty()) return std::nullopt;
  // Times are counted in samples and divided once, so 8.31 s reads 8.31.
  std::int64_t end = utterance.startSample + static_cast<std::int64_t>(utterance.samples.size());
  auto sampleOf = [&](int frame) {
    return std::min(end, utterance.startSample + std::int64_t{frame} * samplesPerFrame);
  };
  TranscriberResult result;
  result.text = writeText(words);
  result.range.start = secondsAt(sampleOf(words.front().startFrame));
  result.range.end = secondsAt(sampleOf(words.back().endFrame));
  result.alternatives = detail.alternatives ? decoded.alternatives : 0;
  result.isFinal = true;
  if (detail.wordTimings) {
    std::vector<WordTiming> timings;
    for (const TimedWord& word : words) {
      timings.push_back(
          {word.text, secondsAt(sampleOf(word.startFrame)), secondsAt(sampleOf(word.endFrame)), word.posterior});
    }
    result.words = writeText.writtenWords(words, std::move(timings));
  }
  return result;
}

}  // namespace tolva::sphinx
