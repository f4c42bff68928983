#pragma once
// The two seams together: what the core runs against.

#include "platform/audio.hpp"
#include "platform/speech.hpp"

namespace tolva {

struct Platform {
  SpeechEngine& speech;
  AudioSystem& audio;
};

}  // namespace tolva
