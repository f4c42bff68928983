#pragma once
// runLiveSession: one dictation session from `session-started` to its closing
// events. It builds the analyzer for the admitted locale, feeds it from the
// microphone, a replayed file or a stream the client feeds until a stop (or
// the end of the file or stream, or the device going away), ends the input, finalizes within a bound (forcing the
// analyzer down when it overruns) and returns the session's counters.
//
// Bounds: 2500 ms to finalize a session that fed audio (the value `ready`
// advertises as finalizeTimeoutMs); 1000 ms to cancel one that fed none, and
// 1000 ms for the forced cancel after a timeout.
//
// A throw means the session failed: no closing event was emitted, the input
// was ended, the analyzer cancelled and the results consumer stopped, so no
// thread of the failed session emits into the next one.

#include <cstdint>
#include <memory>

#include "live/protocol/command_router.hpp"
#include "live/sources/live_audio_source.hpp"
#include "live/protocol/live_event_emitter.hpp"
#include "live/session/session_state_boxes.hpp"
#include "platform/platform.hpp"

namespace tolva {

inline constexpr std::int64_t finalizeTimeoutMs = 2500;
inline constexpr std::int64_t noAudioCancelTimeoutMs = 1000;
inline constexpr std::int64_t forcedCancelTimeoutMs = 1000;

struct LiveSessionContext {
  Platform& platform;
  std::shared_ptr<LiveEventEmitter> events;
  bool words = false;  // each `final` carries its words
};

// `stopSignal`: its first tick, or its end without one, requests the stop.
LiveSessionStats runLiveSession(const LiveSessionContext& context, std::int64_t session, const Locale& locale,
                                const LiveAudioSource& source, std::shared_ptr<StopSignal> stopSignal);

}  // namespace tolva
