#pragma once
// How the PocketSphinx engine drives the recogniser: the search settings of
// each decoder kind, the voice activity detection that cuts audio into
// utterances, and the splitter's limits. Plain values with the defaults the
// engine ships with; the shipped binary never changes them (the text style
// comes from the environment).

#include <cstddef>
#include <optional>
#include <string>

#include "platform/sphinx/decoder/result_text_style.hpp"

namespace tolva::sphinx {

enum class DecoderKind {
  // Every frame is decoded, so frame numbers are audio time; file analysis
  // hands over one utterance at a time, normalised over the whole utterance.
  wholeUtterance,
  // The front end drops silence and reports whether speech is running, for
  // live dictation (-remove_silence yes).
  streaming,
};

// The front end's voice activity detector, in 10 ms frames.
struct VoiceActivitySettings {
  double threshold = 2.0;        // signal-to-noise log ratio that counts as speech
  int speechFramesToStart = 10;  // speech frames before speech is reported
  int framesBeforeSpeech = 20;   // frames kept before the start of speech
  int silenceFramesToEnd = 50;   // silent frames before silence is reported
};

// The streaming front end's running cepstral mean: the colour and level of
// the channel, taken off every frame. It starts from the model's own mean,
// which weighs as much as `priorFrames` frames of audio.
struct CepstralMeanSettings {
  int priorFrames = 500;
  // Re-estimate the mean at every 100 ms of audio. The library itself waits
  // for 800 frames, so a short sentence on a telephone line is decoded
  // against the model's clean-speech mean from its first word to its last.
  bool refreshEachPiece = false;
};

// The search of one decoder kind. Beams are probabilities relative to the best
// path (smaller is wider); the weights are the language model's and the word
// insertion penalty.
struct DecoderSettings {
  bool fwdflat = true;   // second pass over a flat lexicon
  bool bestpath = true;  // third pass: best path through the word lattice
  double beam = 1e-48;
  double wbeam = 7e-29;
  double pbeam = 1e-48;
  double lw = 6.5;
  double wip = 0.65;
  int maxhmmpf = 30000;  // active HMMs per frame, -1 for no cap
  VoiceActivitySettings voice;
  CepstralMeanSettings mean;  // streaming decoders only
};

// File analysis cuts audio into utterances at the detector's pauses.
struct SplitterSettings {
  std::size_t leadFrames = 50;   // silence kept before speech: leadFrames..2x
  std::size_t maxFrames = 3000;  // an utterance without a pause is cut here
};

struct SphinxSettings {
  // Whole utterances take the flat-lexicon second pass, which finds more of
  // the words on clean and mildly noisy speech; capping the active HMMs per
  // frame at 10000 pays for it, so a file decodes about as fast as with one
  // pass. The evidence: the sweep in bench/eval/README.md.
  DecoderSettings wholeUtterance = [] {
    DecoderSettings settings;
    settings.maxhmmpf = 10000;
    return settings;
  }();
  // Live audio must be decoded faster than it arrives, on a loaded machine
  // too: capping the active HMMs per frame bounds the work a noisy frame can
  // cause (the library's default is 30000; lower, words start to go).
  //
  // Its cepstral mean is re-estimated every 100 ms, the model's mean weighing
  // as 1 s of audio, so that a channel unlike the model's (a telephone line,
  // a reverberant room) is normalised within a sentence; a lighter prior
  // does better on such audio but costs clean speech more. The evidence and
  // the figures: the dictation rounds in bench/eval/README.md.
  DecoderSettings streaming = [] {
    DecoderSettings settings;
    settings.maxhmmpf = 5000;
    settings.mean = {.priorFrames = 100, .refreshEachPiece = true};
    return settings;
  }();
  SplitterSettings splitter;
  ResultTextSettings text;

  const DecoderSettings& of(DecoderKind kind) const {
    return kind == DecoderKind::streaming ? streaming : wholeUtterance;
  }

  // Why these settings cannot drive a decoder, or nothing when they can.
  std::optional<std::string> validate() const;
};

}  // namespace tolva::sphinx
