#pragma once
// The microphone branch of a live session: captures from the chosen input
// device (the default one when `device` is empty) until a stop arrives or the device goes away, whichever comes first.

#include <cstdint>
#include <memory>
#include <string>

#include "live/protocol/command_router.hpp"
#include "live/protocol/live_event_emitter.hpp"
#include "platform/audio.hpp"
#include "platform/speech.hpp"

namespace tolva {

struct MicrophoneFeed {
  AudioSystem& audio;
  std::string device;
  AudioFormat analyzerFormat;
  std::shared_ptr<AnalyzerInputChannel> input;
  std::int64_t session = 0;
  std::shared_ptr<StopSignal> stopSignal;
  LiveEventEmitter& events;
};

// Emits `capture-started`, feeds until the end, emits "capture-halted" when
// the device went away, and returns the milliseconds of converted audio fed.
// When it returns or throws, no capture callback can yield into the input any
// more; the input itself is left for the runner to finish. Throws the engine's
// errors unchanged, or a LiveSessionError (code 2) when no converter exists.
double feedMicrophone(const MicrophoneFeed& feed);

}  // namespace tolva
