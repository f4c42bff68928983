#include "locale/speech_preset.hpp"

namespace tolva {

const TranscriberPreset& SpeechPreset::batch() {
  static const TranscriberPreset preset{"batch", false, true, true};
  return preset;
}

const TranscriberPreset& SpeechPreset::dictation() {
  static const TranscriberPreset preset{"dictation", true, false, false};
  return preset;
}

TranscriberPreset SpeechPreset::withWordTimings(const TranscriberPreset& preset) {
  TranscriberPreset timed = preset;
  timed.wordTimings = true;
  return timed;
}

}  // namespace tolva
