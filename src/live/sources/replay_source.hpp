#pragma once
// The replay branch of a live session: feeds an audio file into the analyzer
// input in chunks of chunkMs, pausing chunkMs after each chunk so the file
// plays at roughly its natural speed (slightly slower: the pause is fixed, not
// a schedule). A stop is noticed between chunks: it ends a pause at once, but
// never cuts into a chunk. Unpaced, the same chunks follow each other at once:
// the words do not depend on timing, so a measurement of them need not wait.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "live/protocol/command_router.hpp"
#include "live/protocol/live_event_emitter.hpp"
#include "platform/audio.hpp"
#include "platform/speech.hpp"

namespace tolva {

enum class ReplayPacing {
  natural,  // chunkMs of pause after every chunk (listen replay)
  none,     // no pause (decoding a file as listen replay would, at full speed)
};

struct ReplayFeed {
  AudioSystem& audio;
  std::string path;
  std::int64_t chunkMs = 0;
  AudioFormat analyzerFormat;
  std::shared_ptr<AnalyzerInputChannel> input;
  std::int64_t session = 0;
  std::shared_ptr<StopSignal> stopSignal;
  LiveEventEmitter& events;
  ReplayPacing pacing = ReplayPacing::natural;
};

// Opens the file, emits `capture-started` and feeds until the file is
// exhausted or a stop arrives; returns the milliseconds of file audio fed.
// Throws the open or read error unchanged, or a LiveSessionError (code 2: no
// converter; code 3: a chunk would exceed a 32-bit frame count). Does not end
// the input: the runner does.
double feedReplay(const ReplayFeed& feed);

// max(rate x chunkMs / 1000, 1) truncated; nothing when it exceeds 32 bits.
std::optional<std::uint32_t> replayFramesPerChunk(double sampleRate, std::int64_t chunkMs);

}  // namespace tolva
