#pragma once
// The results consumer of a live session: turns each transcriber result, as it
// arrives, into a `volatile` or `final` event and counts it. Every result is
// forwarded; nothing is merged or filtered. With words asked for, each `final`
// gains "words":[{"confidence":0.9,"end":1.4,"start":1.0,"word":"hello"},...];
// `volatile` events never carry words.
//
// It runs on its own thread until the results channel ends (finalize, cancel,
// an error) or its stop token is triggered. After a forced shutdown it is
// cancelled but not waited for, so it shares ownership of all it touches.

#include <cstdint>
#include <memory>
#include <stop_token>

#include "app/process.hpp"
#include "live/protocol/live_event_emitter.hpp"
#include "live/session/session_state_boxes.hpp"
#include "platform/speech.hpp"

namespace tolva {

struct LiveResultStream {
  std::shared_ptr<ResultChannel> results;
  WallClock::time_point sessionStart;
  std::shared_ptr<LiveSessionStatsBox> stats;
  std::int64_t session = 0;
  std::shared_ptr<LiveEventEmitter> events;
  bool words = false;  // finals carry a `words` array, as transcribe's segments do
};

// Forwards results until the channel ends or `stop` is requested. A channel
// that ends with an error is logged ("session.resultsStreamError") only.
void consumeLiveResults(const LiveResultStream& stream, std::stop_token stop);

}  // namespace tolva
