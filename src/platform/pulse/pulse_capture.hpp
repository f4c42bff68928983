#pragma once
// Microphone capture through PulseAudio (or PipeWire's pulse server): a record
// stream on the chosen source (see source_choice.hpp), in the source's own
// rate and channels.

#include <memory>
#include <string>

#include "platform/audio.hpp"

namespace tolva::pulse {

// A capture engine. Construction is cheap: nothing connects to the server
// until inputFormat() or start() is first called. The tap and configuration
// observers run on the engine's main-loop thread; they must not destroy the
// engine, nor call inputFormat() or start() (those wait on that thread).
// `device` names a source; empty picks one as chooseSource does.
std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string& device = "");

}  // namespace tolva::pulse
