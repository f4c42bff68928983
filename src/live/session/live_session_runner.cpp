#include "live/session/live_session_runner.hpp"

#include <string>

#include "concurrency/notification.hpp"
#include "concurrency/task.hpp"
#include "live/session/live_durations.hpp"
#include "live/session/live_result_streaming.hpp"
#include "live/session/live_run_bounded.hpp"
#include "live/session/live_session_error.hpp"
#include "live/sources/microphone_feed.hpp"
#include "live/sources/replay_source.hpp"
#include "live/sources/stream_source.hpp"
#include "locale/speech_preset.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

// What a session owns once its analyzer is running.
struct RunningSession {
  std::int64_t number = 0;
  std::shared_ptr<LiveEventEmitter> events;
  std::shared_ptr<SpeechAnalyzer> analyzer;
  AudioFormat analyzerFormat;
  std::shared_ptr<AnalyzerInputChannel> input;
  WallClock::time_point start;
  std::shared_ptr<LiveSessionStatsBox> stats;
  std::shared_ptr<Notification> consumerDone;
  Task consumer;       // joined when the session goes, unless abandoned after a forced shutdown
  bool words = false;  // finals carry their words
};

void startConsumer(RunningSession& running, const std::shared_ptr<SpeechTranscriber>& transcriber) {
  LiveResultStream stream{transcriber->results(), running.start,  running.stats,
                          running.number,         running.events, running.words};
  running.consumer = Task([stream, done = running.consumerDone](std::stop_token stop) {
    consumeLiveResults(stream, stop);
    done->notify();
  });
}

double feed(const LiveSessionContext& context, RunningSession& running, const LiveAudioSource& source,
            std::shared_ptr<StopSignal> stopSignal) {
  if (source.isMic()) {
    return feedMicrophone({context.platform.audio, source.device, running.analyzerFormat, running.input,
                           running.number, std::move(stopSignal), *running.events});
  }
  if (source.kind == LiveAudioSource::Kind::stream) {
    return feedStream({context.platform.audio, source.stream, running.analyzerFormat, running.input, running.number,
                       std::move(stopSignal), *running.events});
  }
  return feedReplay({context.platform.audio, source.path, source.chunkMs, running.analyzerFormat, running.input,
                     running.number, std::move(stopSignal), *running.events, ReplayPacing::natural});
}

// A failed session still ends its input, cancels its analyzer and stops its
// consumer, silently, so nothing of it reaches the next session.
void shutDownFailedSession(RunningSession& running) {
  running.input->finish();
  liveRunBounded(forcedCancelTimeoutMs,
                 [analyzer = running.analyzer](std::stop_token) { analyzer->cancelAndFinishNow(); });
  running.consumer.cancel();
  running.consumer.wait();
}

// Finalizes (fed audio) or cancels (none) within its bound; true when in time.
bool finishAnalysis(RunningSession& running, double fedMs, std::int64_t& bound) {
  auto analyzer = running.analyzer;
  auto consumerDone = running.consumerDone;
  if (fedMs == 0) {
    log("session.finalizeSkippedNoAudio", {{"session", running.number}});
    bound = noAudioCancelTimeoutMs;
    return liveRunBounded(bound, [analyzer, consumerDone](std::stop_token stop) {
      analyzer->cancelAndFinishNow();
      consumerDone->wait(stop);
    });
  }
  bound = finalizeTimeoutMs;
  return liveRunBounded(bound, [analyzer, consumerDone](std::stop_token stop) {
    try {
      analyzer->finalizeAndFinishThroughEndOfInput();
    } catch (...) {
      log("session.finalizeError", {{"error", describe(std::current_exception())}});
    }
    consumerDone->wait(stop);
  });
}

void forceDown(RunningSession& running, std::int64_t expiredBound) {
  running.events->emitError(
      "finalize-timeout", "the analyzer did not finish within " + std::to_string(expiredBound) + "ms; forcing it down",
      running.number);
  liveRunBounded(forcedCancelTimeoutMs,
                 [analyzer = running.analyzer](std::stop_token) { analyzer->cancelAndFinishNow(); });
  // A result it still delivers may follow the closing events.
  running.consumer.cancel();
  running.consumer.abandon();
}

LiveSessionStats closeSession(RunningSession& running, double fedMs, const LiveAudioSource& source) {
  running.input->finish();
  running.stats->setAudioFedMs(fedMs);
  std::int64_t bound = 0;
  bool finished = finishAnalysis(running, fedMs, bound);
  if (!finished) forceDown(running, bound);
  if (source.isMic() && fedMs == 0) {
    running.events->emitError("no-audio-captured",
                              "the microphone session fed no audio to the analyzer; the capture path delivered "
                              "nothing",
                              running.number);
  }
  LiveSessionStats stats = running.stats->snapshot();
  if (stats.finalCount == 0) {
    // A listener always sees at least one final per completed session.
    JsonObject fields{{"session", running.number},
                      {"text", ""},
                      {"sessionMs", wholeMillisecondsSince(running.start)},
                      {"empty", true}};
    if (running.words) fields.emplace("words", JsonArray{});
    running.events->emit("final", std::move(fields));
  }
  stats.finalizeTimedOut = !finished;
  return stats;
}

}  // namespace

LiveSessionStats runLiveSession(const LiveSessionContext& context, std::int64_t session, const Locale& locale,
                                const LiveAudioSource& source, std::shared_ptr<StopSignal> stopSignal) {
  SpeechEngine& speech = context.platform.speech;
  auto transcriber = speech.makeTranscriber(
      locale, context.words ? SpeechPreset::withWordTimings(SpeechPreset::dictation()) : SpeechPreset::dictation());
  TranscriberModules modules{transcriber};
  RunningSession running;
  running.number = session;
  running.events = context.events;
  running.words = context.words;
  running.analyzer = speech.makeAnalyzer(modules);
  auto format = speech.bestAvailableAudioFormat(modules);
  if (!format)
    throw LiveSessionError(LiveErrorCode::noAnalyzerFormat, "SpeechAnalyzer reported no bestAvailableAudioFormat");
  running.analyzerFormat = *format;

  running.input = AnalyzerInputChannel::make();
  running.start = WallClock::now();
  running.stats = std::make_shared<LiveSessionStatsBox>();
  running.consumerDone = std::make_shared<Notification>();
  try {
    running.analyzer->start(running.input);
  } catch (...) {
    running.input->finish();
    throw;
  }

  running.events->emit("session-started", {{"session", session},
                                           {"locale", locale.identifier()},
                                           {"mode", source.modeWord()},
                                           {"analyzerFormat", formatDescription(running.analyzerFormat)}});
  log("session.started", {{"session", session}, {"mode", source.modeWord()}});
  // Only now: results the analyzer delivered at once wait in their channel,
  // so none is written ahead of session-started.
  startConsumer(running, transcriber);

  double fedMs = 0;
  try {
    fedMs = feed(context, running, source, std::move(stopSignal));
  } catch (...) {
    shutDownFailedSession(running);
    throw;
  }
  return closeSession(running, fedMs, source);
}

}  // namespace tolva
