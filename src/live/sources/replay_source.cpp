#include "live/sources/replay_source.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "app/path_name.hpp"
#include "concurrency/task.hpp"
#include "live/sources/analyzer_format_converter.hpp"
#include "live/session/live_durations.hpp"
#include "live/session/live_session_error.hpp"
#include "live/session/session_state_boxes.hpp"
#include "output/log.hpp"

namespace tolva {
namespace {

// A pause this long is already beyond any session; the cap keeps the clock
// arithmetic in range.
constexpr std::int64_t longestPauseMs = std::int64_t{1000} * 60 * 60 * 24 * 365;

double finiteOr(double value, double fallback) { return std::isfinite(value) ? value : fallback; }

std::string rateText(double rate) {
  double whole = std::trunc(rate);
  return std::isfinite(whole) ? std::to_string(static_cast<long long>(whole)) : "0";
}

// The stop watcher: the first tick, or the end of the signal, raises the flag.
Task watchForStop(std::shared_ptr<StopSignal> stopSignal, std::shared_ptr<StopFlag> flag) {
  return Task([stopSignal = std::move(stopSignal), flag = std::move(flag)](std::stop_token stop) {
    stopSignal->next(stop);
    if (!stop.stop_requested()) flag->raise();
  });
}

struct OpenedReplay {
  std::unique_ptr<AudioFile> file;
  AudioFormat format;
  std::int64_t length = 0;
  std::uint32_t framesPerChunk = 1;
  std::unique_ptr<AnalyzerFormatConverter> converter;
};

OpenedReplay openReplay(const ReplayFeed& feed) {
  OpenedReplay replay;
  replay.file = feed.audio.openFile(feed.path);
  replay.format = replay.file->processingFormat();
  replay.length = replay.file->length();
  auto framesPerChunk = replayFramesPerChunk(replay.format.sampleRate, feed.chunkMs);
  if (!framesPerChunk) {
    throw LiveSessionError(LiveErrorCode::chunkTooLarge, "replay chunkMs " + std::to_string(feed.chunkMs) +
                                                             " needs more than 4294967295 frames per chunk at " +
                                                             rateText(replay.format.sampleRate) + "Hz");
  }
  replay.framesPerChunk = *framesPerChunk;
  replay.converter = AnalyzerFormatConverter::make(feed.audio, replay.format, feed.analyzerFormat);
  if (!replay.converter)
    throw LiveSessionError(LiveErrorCode::converterInitFailed, "AVAudioConverter init failed (replay)");
  return replay;
}

void announce(const ReplayFeed& feed, const OpenedReplay& replay) {
  log("session.replayOpened", {{"session", feed.session},
                               {"file", lastPathComponent(feed.path)},
                               {"durationSec", finiteOr(replay.length / replay.format.sampleRate, -1)},
                               {"fileFormat", formatDescription(replay.format)},
                               {"analyzerFormat", formatDescription(feed.analyzerFormat)}});
  feed.events.emit("capture-started", {{"session", feed.session}, {"source", "replay"}});
  log("session.captureStarted", {{"session", feed.session}, {"source", "replay"}});
}

// Feeds chunks until the end, a stop, or a read that delivers nothing early.
double feedChunks(const ReplayFeed& feed, OpenedReplay& replay, const StopFlag& stopFlag) {
  std::int64_t position = 0;
  double fedMs = 0;
  while (position < replay.length && !stopFlag.isRaised()) {
    auto frames = static_cast<std::uint32_t>(std::min<std::int64_t>(replay.length - position, replay.framesPerChunk));
    auto buffer = PcmBuffer::make(replay.format, frames);
    if (!buffer) break;
    replay.file->read(*buffer, frames);
    if (buffer->frameLength == 0) {
      // A file shorter than it claims: end the feed as if it were exhausted,
      // instead of pausing on it until someone sends a stop.
      log("session.replayShortRead", {{"session", feed.session}, {"position", position}, {"length", replay.length}});
      break;
    }
    if (auto converted = replay.converter->convert(*buffer)) feed.input->yield(AnalyzerInput{std::move(*converted)});
    position += buffer->frameLength;
    fedMs += buffer->durationMs();
    if (feed.pacing == ReplayPacing::natural && feed.chunkMs > 0) {
      stopFlag.raisedWithin(std::chrono::milliseconds(std::min(feed.chunkMs, longestPauseMs)));
    }
  }
  return fedMs;
}

}  // namespace

std::optional<std::uint32_t> replayFramesPerChunk(double sampleRate, std::int64_t chunkMs) {
  double frames = std::trunc(sampleRate * static_cast<double>(chunkMs) / 1000);
  if (!(frames >= 1)) return 1;  // also a rate that is not a number
  if (frames > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(frames);
}

double feedReplay(const ReplayFeed& feed) {
  OpenedReplay replay = openReplay(feed);
  announce(feed, replay);
  auto stopFlag = std::make_shared<StopFlag>();
  // Cancelled and joined when it goes out of scope, also when a read throws.
  Task watcher = watchForStop(feed.stopSignal, stopFlag);
  double fedMs = feedChunks(feed, replay, *stopFlag);
  log("session.replayDone", {{"session", feed.session}, {"fedMs", wholeMilliseconds(fedMs)}});
  return fedMs;
}

}  // namespace tolva
