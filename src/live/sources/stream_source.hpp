#pragma once
// The stream branch of a live session: audio the client feeds through a FIFO
// (or any readable file), decoded as it arrives and handed to the analyzer
// without pacing. `capture-started` goes out as soon as the path is open, so
// a client may wait for it before it writes. The feed ends at the end of the
// stream (the writer closed the FIFO) or at a stop, which also ends a read
// that waits for data that never comes.

#include <cstdint>
#include <memory>

#include "live/protocol/command_router.hpp"
#include "live/protocol/live_event_emitter.hpp"
#include "platform/audio.hpp"
#include "platform/speech.hpp"

namespace tolva {

struct StreamFeed {
  AudioSystem& audio;
  AudioStreamRequest request;
  AudioFormat analyzerFormat;
  std::shared_ptr<AnalyzerInputChannel> input;
  std::int64_t session = 0;
  std::shared_ptr<StopSignal> stopSignal;
  LiveEventEmitter& events;
};

// Opens the stream, emits `capture-started` and feeds until the end or a
// stop; returns the milliseconds of stream audio fed, at the stream's rate.
// Throws the open, decoding and read errors unchanged, or a LiveSessionError
// (code 2) when no converter exists. Does not end the input: the runner does.
double feedStream(const StreamFeed& feed);

}  // namespace tolva
