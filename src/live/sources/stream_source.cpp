#include "live/sources/stream_source.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/path_name.hpp"
#include "concurrency/task.hpp"
#include "live/session/live_durations.hpp"
#include "live/session/live_session_error.hpp"
#include "live/sources/analyzer_format_converter.hpp"
#include "output/log.hpp"

namespace tolva {
namespace {

// Reads hand over what has been decoded, up to this much at a time: a
// writer's small pieces pass at once, a burst in a few large buffers.
constexpr double largestReadMs = 100;

// The first tick, or the end of the signal, ends the stream at once, and
// any wait for the analyzer to catch up.
Task cancelOnStop(std::shared_ptr<StopSignal> stopSignal, std::shared_ptr<AudioStream> stream,
                  std::stop_source stopped) {
  return Task([stopSignal = std::move(stopSignal), stream = std::move(stream), stopped](std::stop_token stop) mutable {
    stopSignal->next(stop);
    if (stop.stop_requested()) return;
    stopped.request_stop();
    stream->cancel();
  });
}

// A writer may hand over audio faster than it can be decoded (a recording
// piped in whole). The end of its stream waits until the analyzer has taken
// all of it, so the bounded finalize that follows has no backlog to decode;
// a stop ends the wait.
void awaitAnalyzerCaughtUp(const StreamFeed& feed, std::stop_token stopped) {
  auto begin = std::chrono::steady_clock::now();
  bool drained = feed.input->waitUntilDrained(stopped);
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
  log("session.streamCaughtUp",
      {{"session", feed.session}, {"waitedMs", static_cast<std::int64_t>(waited.count())}, {"drained", drained}});
}

std::uint32_t readFrames(const AudioFormat& format) {
  double frames = std::trunc(format.sampleRate * largestReadMs / 1000);
  return static_cast<std::uint32_t>(std::clamp(std::isfinite(frames) ? frames : 1.0, 1.0, 1048576.0));
}

double feedBuffers(const StreamFeed& feed, AudioStream& stream, const AudioFormat& format,
                   AnalyzerFormatConverter& converter) {
  auto buffer = PcmBuffer::make(format, readFrames(format));
  if (!buffer) return 0;
  double fedMs = 0;
  while (true) {
    stream.read(*buffer);
    if (buffer->frameLength == 0) break;
    if (auto converted = converter.convert(*buffer)) feed.input->yield(AnalyzerInput{std::move(*converted)});
    fedMs += buffer->durationMs();
  }
  return fedMs;
}

}  // namespace

double feedStream(const StreamFeed& feed) {
  std::shared_ptr<AudioStream> stream = feed.audio.openStream(feed.request);
  feed.events.emit("capture-started", {{"session", feed.session}, {"source", "stream"}});
  log("session.captureStarted", {{"session", feed.session}, {"source", "stream"}});
  std::stop_source stopped;
  // Cancelled and joined when it goes out of scope, also when a read throws.
  Task watcher = cancelOnStop(feed.stopSignal, stream, stopped);

  double fedMs = 0;
  if (std::optional<AudioFormat> format = stream->open()) {
    auto converter = AnalyzerFormatConverter::make(feed.audio, *format, feed.analyzerFormat);
    if (!converter) throw LiveSessionError(LiveErrorCode::converterInitFailed, "AVAudioConverter init failed (stream)");
    log("session.streamOpened", {{"session", feed.session},
                                 {"file", lastPathComponent(feed.request.path)},
                                 {"streamFormat", formatDescription(*format)},
                                 {"analyzerFormat", formatDescription(feed.analyzerFormat)}});
    fedMs = feedBuffers(feed, *stream, *format, *converter);
    if (!stopped.stop_requested()) awaitAnalyzerCaughtUp(feed, stopped.get_token());
  }
  log("session.streamDone", {{"session", feed.session}, {"fedMs", wholeMilliseconds(fedMs)}});
  return fedMs;
}

}  // namespace tolva
