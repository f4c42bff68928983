#pragma once
// The PulseAudio backend as a module the binary loads on first use: libpulse
// and what it depends on (D-Bus, X11, libsndfile and its codecs) take
// milliseconds to load, which commands without a microphone must not pay.

#include <memory>
#include <string>
#include <vector>

#include "platform/audio.hpp"

namespace tolva::pulse {

// The module's file, next to the binary, and the symbol it exports: a
// function returning the ModuleApi.
inline constexpr const char* moduleFileName = "tolva-speech-pulse.so";
inline constexpr const char* moduleEntryName = "tolvaPulseModule";

struct ModuleApi {
  std::unique_ptr<CaptureEngine> (*makeCaptureEngine)(const std::string& device);
  std::vector<CaptureSource> (*captureSources)();
};

}  // namespace tolva::pulse
