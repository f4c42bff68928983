#pragma once
// The two seams together: what the core runs against.

#include <functional>

#include "platform/audio.hpp"
#include "platform/speech.hpp"

namespace tolva {

struct Platform {
  SpeechEngine& speech;
  AudioSystem& audio;
};

// Builds the platform on first use: a handler logs its start before anything
// the platform does (reading the model catalog, say) can log, and paths that
// need no platform (usage, an unknown subcommand) never pay for it.
using PlatformProvider = std::function<Platform&()>;

}  // namespace tolva
