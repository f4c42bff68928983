#pragma once
// Decoder: one loaded PocketSphinx decoder (acoustic model, language model,
// dictionary) in one of two set-ups. Loading takes about 0.2 s, so decoders
// are cached (decoder_cache.hpp); beginAnalysis() returns a reused decoder to
// the state it had after loading.
//
// Thread contract: one thread at a time.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/sphinx/decoder/decoder_settings.hpp"
#include "platform/sphinx/decoder/hypothesis_text.hpp"
#include "platform/store/model_store.hpp"

namespace tolva::sphinx {

class Decoder {
 public:
  static constexpr int sampleRate = 16000;
  static constexpr int framesPerSecond = 100;

  // Throws PlatformError naming what could not be loaded.
  static std::unique_ptr<Decoder> load(const store::ModelFiles& files, DecoderKind kind,
                                       const DecoderSettings& settings);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  DecoderKind kind() const { return kind_; }

  // Ends an utterance left open, restarts frame numbering at zero and resets
  // the running cepstral mean, so nothing of an earlier analysis carries over.
  void beginAnalysis();
  void startUtterance();
  // Decodes samples of the open utterance. With `wholeUtterance` the samples
  // are the complete utterance, normalised together (one call per utterance).
  void process(std::span<const std::int16_t> samples, bool wholeUtterance = false);
  // Ends the open utterance, if any; its words stay readable until the next one.
  void endUtterance();
  // Re-estimates the running cepstral mean from the audio so far, when the
  // settings ask for it; live decoding calls it at fixed points of the stream.
  void refreshCepstralMean();
  // Whether the voice activity detector hears speech (streaming decoders).
  bool inSpeech();

  // The readable words of the current best hypothesis, with their frames.
  std::vector<TimedWord> words();
  // How many distinct readable texts the n-best list of the ended utterance
  // holds, the best one (`bestWords`) included, at most `cap`.
  std::int64_t alternativesCount(const std::vector<TimedWord>& bestWords, std::int64_t cap);

 private:
  struct Native;  // the library's objects
  Decoder(std::unique_ptr<Native> native, DecoderKind kind);
  void resetCepstralMean();

  std::unique_ptr<Native> native_;
  DecoderKind kind_;
  bool inUtterance_ = false;
};

}  // namespace tolva::sphinx
