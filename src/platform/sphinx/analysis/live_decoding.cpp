#include "platform/sphinx/analysis/live_decoding.hpp"

#include <algorithm>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/decoder_samples.hpp"

namespace tolva::sphinx {
namespace {

// Audio is decoded as it arrives, but the voice activity is judged, the
// cepstral mean re-estimated and an utterance ended only at every 100 ms of
// audio: at fixed points of the stream, so the final words do not depend on
// how the caller chunks its audio.
constexpr std::size_t pieceSamples = Decoder::sampleRate / 10;
// The partial hypothesis is looked at on every piece boundary and at the end
// of each arrival, but not more often than this: tiny arrivals (a sample at a
// time) would otherwise cost a search backtrace each.
constexpr std::size_t partialSpacingSamples = Decoder::sampleRate / 50;
// Speech that runs on this long without a pause (noise the detector takes for
// speech, say) is ended as an utterance all the same, so the decoder's
// per-utterance state stays bounded.
constexpr std::size_t maxSpeechSamples = 30 * Decoder::sampleRate;

TimeRange rangeOf(const std::vector<TimedWord>& words) {
  if (words.empty()) {
    double unknown = std::numeric_limits<double>::quiet_NaN();
    return {unknown, unknown};
  }
  return {static_cast<double>(words.front().startFrame) / Decoder::framesPerSecond,
          static_cast<double>(words.back().endFrame) / Decoder::framesPerSecond};
}

std::vector<WordTiming> wordTimings(const std::vector<TimedWord>& words) {
  std::vector<WordTiming> timings;
  for (const TimedWord& word : words) {
    timings.push_back({word.text, static_cast<double>(word.startFrame) / Decoder::framesPerSecond,
                       static_cast<double>(word.endFrame) / Decoder::framesPerSecond, word.posterior});
  }
  return timings;
}

class LiveDecoding {
 public:
  LiveDecoding(Decoder& decoder, const ResultSink& sink, const ResultTextWriter& writeText, std::stop_token stop)
      : decoder_(decoder), sink_(sink), writeText_(writeText), stop_(std::move(stop)) {}

  void run(AnalyzerInputChannel& input) {
    decoder_.beginAnalysis();
    decoder_.startUtterance();
    std::vector<std::int16_t> samples;
    while (std::optional<AnalyzerInput> next = input.next(stop_)) {
      samples.clear();
      converter_.convert(next->buffer, samples);
      feed(samples);
      if (stop_.stop_requested()) break;
    }
    if (stop_.stop_requested()) {
      decoder_.endUtterance();  // the cancel already ended the results
      return;
    }
    samples.clear();
    converter_.finish(samples);
    feed(samples);
    endUtterance();
    sink_.finish();
  }

 private:
  void feed(std::span<const std::int16_t> samples) {
    std::size_t offset = 0;
    while (offset < samples.size() && !stop_.stop_requested()) {
      std::size_t count = std::min(pieceSamples - pieceFilled_, samples.size() - offset);
      decoder_.process(samples.subspan(offset, count));
      offset += count;
      pieceFilled_ += count;
      sinceLastPartial_ += count;
      if (pieceFilled_ == pieceSamples) endPiece();
    }
    // What arrived is decoded: show it without waiting for the piece to fill.
    if (pieceFilled_ > 0 && sinceLastPartial_ >= partialSpacingSamples && decoder_.inSpeech()) reportPartial();
  }

  void endPiece() {
    pieceFilled_ = 0;
    decoder_.refreshCepstralMean();
    bool speech = decoder_.inSpeech();
    speechSamples_ = speech ? speechSamples_ + pieceSamples : 0;
    if ((wasInSpeech_ && !speech) || speechSamples_ >= maxSpeechSamples) {
      endUtterance();
      decoder_.startUtterance();
      speechSamples_ = 0;
    } else if (speech) {
      reportPartial();
    }
    wasInSpeech_ = speech;
  }

  void reportPartial() {
    sinceLastPartial_ = 0;
    if (!sink_.wantsVolatileResults()) return;
    std::vector<TimedWord> words = decoder_.words();
    std::string text = writeText_(words);
    if (text == lastVolatile_) return;
    lastVolatile_ = text;
    sink_.deliver({text, rangeOf(words), 0, false, {}});
  }

  void endUtterance() {
    decoder_.endUtterance();
    std::vector<TimedWord> words = decoder_.words();
    bool settlesVolatile = !lastVolatile_.empty();
    lastVolatile_.clear();
    if (words.empty() && !settlesVolatile) return;
    std::int64_t alternatives =
        sink_.wantsAlternatives() && !words.empty() ? decoder_.alternativesCount(words, maxAlternatives) : 0;
    TranscriberResult result{writeText_(words), rangeOf(words), alternatives, true, {}};
    if (sink_.wantsWordTimings()) result.words = writeText_.writtenWords(words, wordTimings(words));
    sink_.deliver(result);
  }

  Decoder& decoder_;
  const ResultSink& sink_;
  const ResultTextWriter& writeText_;
  std::stop_token stop_;
  DecoderSamples converter_;
  std::string lastVolatile_;
  bool wasInSpeech_ = false;
  std::size_t pieceFilled_ = 0;       // samples decoded since the last piece boundary
  std::size_t sinceLastPartial_ = 0;  // samples decoded since the partial was last looked at
  std::size_t speechSamples_ = 0;     // of the current utterance, at piece boundaries
};

}  // namespace

void runLiveDecoding(LiveDecodingState& state, std::stop_token stop) {
  try {
    if (!state.decoder || !state.input) throw PlatformError("the live analysis has no decoder or input");
    LiveDecoding(*state.decoder, state.sink, state.writeText, stop).run(*state.input);
  } catch (...) {
    state.error = std::current_exception();
    state.decoder.discard();
    state.sink.finish(state.error);
  }
  // Back to the cache at once, even while the analyzer object lives on.
  state.decoder = DecoderLease();
  state.done.notify();
}

}  // namespace tolva::sphinx
