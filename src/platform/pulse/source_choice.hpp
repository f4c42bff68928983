#pragma once
// Which source a capture records from: the one the session named, else the
// one PULSE_SOURCE names (the sound server's own way for a user to pick a
// microphone for one program), else the server's default. A named source is
// pinned: the capture stays on it when the server's default changes.

#include <pulse/context.h>

#include <string>
#include <vector>

#include "platform/audio.hpp"
#include "platform/pulse/main_loop.hpp"
#include "platform/pulse/sound_server.hpp"

namespace tolva::pulse {

struct SourceChoice {
  std::string name;  // empty: follow the server's default
  bool fromEnvironment = false;

  bool followsDefault() const { return name.empty(); }
};

// `device` when it is not empty, else PULSE_SOURCE when that is set and not
// empty, else the server's default.
SourceChoice chooseSource(const std::string& device);

// The chosen source; throws PlatformError naming a source the server does not
// have, and pointing at `tolva-speech devices`.
SourceInfo resolveSource(MainLoop& loop, pa_context* context, const SourceChoice& choice);

// Every source of the server the environment names, sorted by name, the one a
// capture without a named device records from marked as the default.
// Throws PlatformError when the server cannot be reached.
std::vector<CaptureSource> listCaptureSources();

}  // namespace tolva::pulse
