#pragma once
// UtteranceSplitter: cuts a 16 kHz sample stream into utterances at the pauses
// the voice activity detector reports, so that file analysis can decode each
// utterance whole. A cut falls in the middle of the detected pause, so every
// utterance keeps some silence around its speech; at most leadFrames..2x
// leadFrames of silence are kept before speech starts. An utterance that runs
// on for maxFrames without a pause is cut at its quietest frame in its second
// half (SplitterSettings). Stretches without speech are dropped.
//
// Thread contract: one thread at a time.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/sphinx/analysis/voice_activity.hpp"
#include "platform/sphinx/decoder/decoder_settings.hpp"

namespace tolva::sphinx {

struct Utterance {
  std::int64_t startSample = 0;  // from the start of the stream
  std::vector<std::int16_t> samples;
};

class UtteranceSplitter {
 public:
  UtteranceSplitter(VoiceActivity& detector, const SplitterSettings& settings)
      : detector_(detector), settings_(settings) {}

  // Feeds samples; appends the utterances they complete.
  void push(std::span<const std::int16_t> samples, std::vector<Utterance>& done);
  // Appends the last utterance at the end of the stream.
  void finish(std::vector<Utterance>& done);

  // The stream position before which every sample has gone into an
  // utterance already appended or has been dropped.
  std::int64_t settledSamples() const { return regionStart_; }

 private:
  void analyseFrame(std::vector<Utterance>& done);
  // Ends the utterance after its first `frames` frames.
  void cutAfter(std::size_t frames, std::vector<Utterance>& done);
  void dropFrames(std::size_t frames);
  std::size_t quietestFrameInSecondHalf() const;

  VoiceActivity& detector_;
  SplitterSettings settings_;
  std::int64_t regionStart_ = 0;      // stream position of region_[0]
  std::vector<std::int16_t> region_;  // samples of the utterance being collected
  std::vector<double> frameEnergy_;   // per analysed whole frame of region_
  bool regionHasSpeech_ = false;
  bool inSpeech_ = false;
};

}  // namespace tolva::sphinx
