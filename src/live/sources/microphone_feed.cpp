#include "live/sources/microphone_feed.hpp"

#include "concurrency/task.hpp"
#include "live/sources/analyzer_format_converter.hpp"
#include "live/sources/live_audio_source.hpp"
#include "live/session/live_session_error.hpp"
#include "live/sources/microphone_capture.hpp"
#include "output/log.hpp"

namespace tolva {
namespace {

using MicEnds = Channel<LiveMicEnd>;

// The first of stop and halt decides; the later one lands in a finished channel.
void endWith(MicEnds& ends, LiveMicEnd end) {
  ends.yield(end);
  ends.finish();
}

Task waitForStop(std::shared_ptr<StopSignal> stopSignal, std::shared_ptr<MicEnds> ends) {
  return Task([stopSignal = std::move(stopSignal), ends = std::move(ends)](std::stop_token stop) {
    stopSignal->next(stop);
    if (!stop.stop_requested()) endWith(*ends, LiveMicEnd::stopped);
  });
}

}  // namespace

double feedMicrophone(const MicrophoneFeed& feed) {
  MicrophoneCapture capture(feed.audio.makeCaptureEngine(feed.device));
  std::shared_ptr<AnalyzerFormatConverter> converter =
      AnalyzerFormatConverter::make(feed.audio, capture.inputFormat(), feed.analyzerFormat);
  if (!converter) {
    capture.stop();
    throw LiveSessionError(LiveErrorCode::converterInitFailed, "AVAudioConverter init failed (microphone)");
  }
  auto sink = std::make_shared<ContinuationBox>(feed.input);
  auto ends = std::make_shared<MicEnds>();
  // Started before the capture, so a stop that is already waiting is not lost.
  Task stopWaiter = waitForStop(feed.stopSignal, ends);

  try {
    capture.start(converter, sink, [ends] { endWith(*ends, LiveMicEnd::halted); });
  } catch (...) {
    stopWaiter.cancel();
    sink->detach();
    capture.stop();
    throw;
  }
  feed.events.emit("capture-started", {{"session", feed.session}, {"source", "mic"}});
  log("session.captureStarted", {{"session", feed.session}, {"source", "mic"}});

  LiveMicEnd end = ends->next().value_or(LiveMicEnd::stopped);
  capture.stop();
  double fedMs = capture.fedTotal();
  if (end == LiveMicEnd::halted) {
    feed.events.emitError("capture-halted",
                          "the audio graph stopped without a stop being requested; the capture device changed or "
                          "became unavailable mid-session",
                          feed.session);
  }
  stopWaiter.cancel();
  sink->detach();  // from here on no tap callback can reach the input
  capture.stop();
  return fedMs;
}

}  // namespace tolva
