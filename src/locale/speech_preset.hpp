#pragma once
// The two transcriber configurations of the system, each created once on first
// use (from any thread; function-local statics make concurrent first uses safe).
//   batch:     file transcription; timed final results with alternatives
//   dictation: live dictation, install, release; volatile results, then finals

#include "platform/speech.hpp"

namespace tolva {

struct SpeechPreset {
  static const TranscriberPreset& batch();
  static const TranscriberPreset& dictation();
  // The same preset, its final results carrying their words. The name stays,
  // so asset status and installation see the same module.
  static TranscriberPreset withWordTimings(const TranscriberPreset& preset);
};

}  // namespace tolva
