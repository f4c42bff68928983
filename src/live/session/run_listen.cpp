// runListen: the `listen` subcommand. Announces the service with `ready`, has
// the built-in locale's dictation decoder loaded in the background,
// reads commands on a stdin reader thread, and serves dictation sessions one
// at a time until told to quit or standard input ends. It never returns.
#include <unistd.h>

#include "commands/commands.hpp"
#include "live/protocol/command_router.hpp"
#include "live/session/live_durations.hpp"
#include "live/session/live_locale_admission.hpp"
#include "live/session/live_session_runner.hpp"
#include "live/protocol/stdin_reader.hpp"
#include "live/protocol/termination_signals.hpp"
#include "output/fd_write.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

constexpr std::int64_t listenProtocolVersion = 1;
constexpr const char* builtInLocale = "en_US";

bool transcriberAvailable(SpeechEngine& speech) {
  try {
    return speech.isAvailable();
  } catch (...) {
    return false;
  }
}

LiveAudioSource sourceOf(const StartRequest& request) {
  if (request.replayPath) return LiveAudioSource::replay(*request.replayPath, request.chunkMs);
  if (request.stream) return LiveAudioSource::fed(*request.stream);
  return LiveAudioSource::mic(request.device.value_or(""));
}

JsonObject sessionEndedFields(std::int64_t session, std::int64_t sessionMs, const LiveSessionStats& stats,
                              bool failed) {
  JsonObject fields{{"session", session},
                    {"sessionMs", sessionMs},
                    {"volatileCount", stats.volatileCount},
                    {"finalCount", stats.finalCount},
                    {"firstVolatileMs", stats.firstVolatileMs.value_or(-1)},
                    {"audioFedMs", wholeMilliseconds(stats.audioFedMs)}};
  if (failed) fields["failed"] = true;
  return fields;
}

// Runs one admitted session and writes its `session-ended`. A failed session
// reports "session-failed" first, with zero counts in `session-ended`. The
// router is freed just before `session-ended` is written, so a parent that
// answers that event with a new start is never refused.
void serveSession(Platform& platform, CommandRouter& router, std::int64_t session, const Locale& locale,
                  const StartRequest& request) {
  auto stopSignal = StopSignal::make();
  router.attachSession(stopSignal);
  auto started = WallClock::now();
  LiveSessionContext context{platform, sharedLiveEvents(), request.words};
  JsonObject ended;
  try {
    LiveSessionStats stats = runLiveSession(context, session, locale, sourceOf(request), stopSignal);
    ended = sessionEndedFields(session, wholeMillisecondsSince(started), stats, stats.finalizeTimedOut);
  } catch (...) {
    liveEvents().emitError("session-failed", describe(std::current_exception()), session);
    ended = sessionEndedFields(session, wholeMillisecondsSince(started), LiveSessionStats{}, true);
  }
  router.sessionFinished();
  liveEvents().emit("session-ended", std::move(ended));
}

// Serves starts until the router says to stop; returns the sessions run.
std::int64_t serveSessions(Platform& platform, CommandRouter& router) {
  std::int64_t sessions = 0;
  while (auto request = router.waitForStart()) {
    auto judged = judgeLiveLocale(platform.speech, *request);
    if (const auto* refusal = std::get_if<AdmissionRefusal>(&judged)) {
      // Freed first, like after a session, so the refusal can be answered at once.
      router.sessionFinished();
      liveEvents().emitError(refusal->code, refusal->message);
      continue;
    }
    serveSession(platform, router, ++sessions, std::get<Locale>(judged), *request);
    if (router.shouldQuit()) break;
  }
  return sessions;
}

}  // namespace

void runListen(Platform& platform) {
  int signalFd = watchTerminationSignals();
  if (!transcriberAvailable(platform.speech)) {
    liveEvents().emitError("unavailable", "SpeechTranscriber.isAvailable == false on this machine");
    _exit(1);
  }
  liveEvents().emit("ready", {{"pid", static_cast<std::int64_t>(getpid())},
                              {"protocol", listenProtocolVersion},
                              {"maxEventTextChars", maxEventTextChars},
                              {"maxEventLineBytes", maxEventLineBytes},
                              {"finalizeTimeoutMs", finalizeTimeoutMs}});
  log("listen.ready");
  // Most first sessions dictate in the locale whose model comes with the tool:
  // have its decoder loaded and warm before they start.
  platform.speech.prepareDictation(Locale(builtInLocale));

  // Created after `ready`, so no command can answer ahead of it.
  auto router = std::make_shared<CommandRouter>(liveEvents());
  StdinReader reader(router, STDIN_FILENO, signalFd);
  std::int64_t sessions = serveSessions(platform, *router);

  reader.cancel();
  platform.speech.silencePreparations();  // listen.exit is the last line
  log("listen.exit", {{"sessions", sessions}});
  _exit(0);
}

}  // namespace tolva
