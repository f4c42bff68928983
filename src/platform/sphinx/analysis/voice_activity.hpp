#pragma once
// VoiceActivity: the PocketSphinx front end's voice activity detector on its
// own, with no acoustic model loaded (cheap to create): fed 16 kHz samples one
// 10 ms frame at a time, it tells whether speech is running. It switches to
// speech after some speech frames and back to silence after some silent
// frames (by default 0.1 s and 0.5 s), so shorter pauses never end an
// utterance. Its noise level adapts to the stream.
//
// Thread contract: one thread at a time.

#include <cstdint>
#include <memory>
#include <span>

#include "platform/sphinx/decoder/decoder_settings.hpp"
#include "platform/store/model_store.hpp"

namespace tolva::sphinx {

class VoiceActivity {
 public:
  static constexpr int frameSamples = 160;

  // Uses the acoustic model's front-end parameters. Throws PlatformError.
  VoiceActivity(const store::ModelFiles& files, const VoiceActivitySettings& settings);
  ~VoiceActivity();
  VoiceActivity(const VoiceActivity&) = delete;
  VoiceActivity& operator=(const VoiceActivity&) = delete;

  // Feeds one frame of samples (normally frameSamples); returns whether speech
  // is running after it.
  bool feedFrame(std::span<const std::int16_t> frame);

  // Silent frames the detector waits for before it reports silence.
  int silenceFramesToEnd() const { return silenceFramesToEnd_; }

 private:
  struct Native;
  std::unique_ptr<Native> native_;
  int silenceFramesToEnd_;
};

}  // namespace tolva::sphinx
