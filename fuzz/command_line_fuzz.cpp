// Fuzz target: listen command lines. The input is what a parent writes to
// standard input. It is cut into lines as the stdin reader cuts it, and each
// line is routed by the CommandRouter against the scripted platform, with a
// main loop that takes a start, admits or refuses its locale, and runs the
// session until its stop signal fires. The loop takes one step after each
// line, unless the line ends in a space or tab (trimmed away before parsing):
// then it is busy, and the next line meets the router in the same state.
// Checked after every line:
//  - parseCommandLine reads the line as nlohmann does, wherever nlohmann reads it;
//  - the line causes no error event or one, with the code its command and the
//    service's state call for; a stop reaches the session, a start is never lost;
// and over the whole input: every event line is a UTF-8 JSON object of at most
// maxEventLineBytes; seq counts 1, 2, ... without gaps; each admitted session
// ends once; each error event has its log line; the end of input quits.
#include <cmath>
#include <cstdint>

#include "live/protocol/command_line.hpp"
#include "live/protocol/command_router.hpp"
#include "live/session/live_locale_admission.hpp"
#include "locale/trim.hpp"
#include "live/protocol/stdin_line_splitter.hpp"
#include "platform/scripted/scripted_platform.hpp"
#include "support/command_line_oracle.hpp"
#include "support/event_tape.hpp"
#include "support/fuzz_support.hpp"

namespace tolva::fuzz {
namespace {

// Bytes handed to the splitter per read, as a pipe might deliver them.
constexpr std::size_t readSize = 61;

scripted::Scenario makeScenario() {
  scripted::Scenario scenario;
  scenario.supportedLocales = {"de_DE", "en_US", "fr_FR", "zh_Hans_CN"};
  scenario.installedLocales = {"en_US", "zh_Hans_CN"};
  scenario.status["fr_FR"].byPreset["dictation"] = AssetStatus::downloading;
  return scenario;
}

Platform& platform() {
  static scripted::ScriptedPlatform scripted(makeScenario());
  return scripted.platform();
}

// The service's main loop, one step at a time, so that lines also arrive
// while a start is taken but not yet admitted.
class MainLoop {
 public:
  MainLoop(CommandRouter& router, LiveEventEmitter& events) : router_(router), events_(events) {}

  bool active() const { return active_; }
  bool ended() const { return phase_ == Phase::ended; }
  std::int64_t sessions() const { return sessions_; }

  // What the router was just told, for the checks of the stop signal.
  void noteLine(const CommandLine& command, bool accepted) {
    if (accepted) active_ = true;
    bool stops = std::holds_alternative<command::Stop>(command) || std::holds_alternative<command::Quit>(command);
    if (active_ && stops) stopSent_ = true;
    if (phase_ == Phase::running && stopSent_) require(stop_->isFinished(), "a stop did not reach the running session");
  }
  void noteEndOfInput() {
    if (active_) stopSent_ = true;
  }

  void step() {
    switch (phase_) {
      case Phase::idle:
        return takeStart();
      case Phase::taken:
        return admit();
      case Phase::running:
        return finishWhenStopped();
      case Phase::ended:
        return;
    }
  }

 private:
  enum class Phase { idle, taken, running, ended };

  void takeStart() {
    if (router_.shouldQuit()) {
      require(!router_.waitForStart(), "a start was handed over after quit");
      phase_ = Phase::ended;
    } else if (active_) {
      require(router_.state() == RouterState::startPending, "an accepted start is neither pending nor served");
      request_ = router_.waitForStart();
      require(request_.has_value(), "a pending start was not handed over");
      phase_ = Phase::taken;
    }
  }

  void admit() {
    auto judged = judgeLiveLocale(platform().speech, *request_);
    if (const auto* refusal = std::get_if<AdmissionRefusal>(&judged)) {
      require(normalizedLocaleKey(request_->locale) != "en-us",
              [&] { return "en-US was refused: " + refusal->message; });
      finishSession();
      events_.emitError(refusal->code, refusal->message);
      return;
    }
    const auto& locale = std::get<Locale>(judged);
    require(locale.identifier() == "en_US" || locale.identifier() == "zh_Hans_CN",
            [&] { return "a locale that is not installed was admitted: " + locale.identifier(); });
    stop_ = StopSignal::make();
    router_.attachSession(stop_);
    events_.emit("session-started", {{"session", ++sessions_}, {"locale", locale.identifier()}});
    phase_ = Phase::running;
    if (stopSent_) require(stop_->isFinished(), "a stop sent during admission was lost");
  }

  void finishWhenStopped() {
    if (!stop_->isFinished()) return;
    require(stopSent_, "the session was stopped without a stop");
    finishSession();
    events_.emit("session-ended", {{"session", sessions_}});
  }

  void finishSession() {
    router_.sessionFinished();
    active_ = false;
    stopSent_ = false;
    stop_.reset();
    phase_ = router_.shouldQuit() ? Phase::ended : Phase::idle;
  }

  CommandRouter& router_;
  LiveEventEmitter& events_;
  Phase phase_ = Phase::idle;
  bool active_ = false;    // from an accepted start until sessionFinished
  bool stopSent_ = false;  // a stop or quit arrived for the active session
  std::optional<StartRequest> request_;
  std::shared_ptr<StopSignal> stop_;
  std::int64_t sessions_ = 0;
};

void route(const StdinLine& line, CommandRouter& router, MainLoop& loop, EventTape& tape) {
  bool wasActive = loop.active();
  std::optional<std::string> expectedCode = "bad-command";
  bool accepted = false;
  CommandLine command = command::Malformed{};
  if (line.oversized) {
    router.handleOversizedLine();
  } else {
    command = parseCommandLine(line.text);
    checkParsed(line.text, command);
    expectedCode = expectedErrorCode(command, wasActive);
    accepted = std::holds_alternative<command::Start>(command) && !wasActive;
    router.handle(line.text);
  }
  auto events = tape.take();
  require(events.size() == (expectedCode ? 1u : 0u), [&] {
    return "a line caused " + std::to_string(events.size()) + " events, not " + (expectedCode ? "1" : "0");
  });
  if (expectedCode)
    require(events[0]["code"] == *expectedCode, [&] { return "the error code is not " + *expectedCode; });
  if (accepted) require(router.state() == RouterState::startPending, "an accepted start is not pending");
  loop.noteLine(command, accepted);
  bool busy = !line.text.empty() && (line.text.back() == ' ' || line.text.back() == '\t');
  if (!busy) loop.step();
  tape.take();
}

}  // namespace
}  // namespace tolva::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tolva::fuzz::initializeFuzzSupport();
  tolva::fuzz::platform();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolva;
  using namespace tolva::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  EventTape tape;
  LogCapture log;
  CommandRouter router(tape.emitter());
  MainLoop loop(router, tape.emitter());
  StdinLineSplitter splitter;
  for (std::size_t at = 0; at < input.size(); at += readSize) {
    for (const StdinLine& line : splitter.feed(input.substr(at, readSize))) route(line, router, loop, tape);
  }
  if (auto last = splitter.finish()) route(*last, router, loop, tape);
  loop.noteEndOfInput();
  router.stdinClosed();
  for (int i = 0; i < 4 && !loop.ended(); ++i) loop.step();
  require(loop.ended(), "the end of input did not end the service");
  tape.take();
  tape.requireSessionsClosed();
  auto logLines = requireJsonLines(log.finish(), "the log");
  std::size_t errorLogs = 0;
  for (auto& line : logLines) {
    require(line["t"].is_string() && line["event"].is_string(), "a log line has no string t and event");
    if (line["event"] == "listen.error") ++errorLogs;
  }
  require(errorLogs == tape.errorCount(), "error events and listen.error log lines differ in number");
  return 0;
}
