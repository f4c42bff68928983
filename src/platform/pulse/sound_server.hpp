#pragma once
// Blocking requests to the sound server: connecting a context, finding the
// default source, subscribing to events. Each is called from a control
// thread with the main loop's lock held, waits for its callback (which always
// signals the loop) and gives up after a timeout, so a silent server cannot
// hang the caller. Failures throw PlatformError with PulseAudio's text.

#include <pulse/context.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio.hpp"
#include "platform/pulse/main_loop.hpp"

namespace tolva::pulse {

constexpr std::chrono::milliseconds serverTimeout{5000};

struct SourceInfo {
  std::string name;
  std::uint32_t index = 0;
  AudioFormat format;  // float32 at the source's own rate and channels
  std::string description;
  bool monitor = false;
};

// PulseAudio's text for the context's last error.
std::string contextError(pa_context* context);

// A context connected to the server the environment names (PULSE_SERVER, or
// the user's default), never spawning a server. `onState` sees every state
// change and must signal the loop.
pa_context* connectContext(MainLoop& loop, pa_context_notify_cb_t onState, void* userdata);

// Detaches the callbacks, disconnects and releases the context; null is fine.
void releaseContext(pa_context*& context);

// The default source, from the server info's name and the source's own info.
SourceInfo defaultSource(MainLoop& loop, pa_context* context);

// The name of the server's default source; empty when it has none.
std::string defaultSourceName(MainLoop& loop, pa_context* context);

// The source called `name`, or nothing when the server has no such source.
std::optional<SourceInfo> sourceNamed(MainLoop& loop, pa_context* context, const std::string& name);

// Every source, in the server's order.
std::vector<SourceInfo> allSources(MainLoop& loop, pa_context* context);

// Starts server and source events flowing to the context's subscribe callback.
void subscribeToDeviceEvents(MainLoop& loop, pa_context* context);

}  // namespace tolva::pulse
